#include "framework/DriverClasses.h"

#include <map>
#include <mutex>

namespace fr {
namespace {

struct TRegistry {
    std::mutex Lock;
    std::map<std::string, TDriverFactory> Classes;
};

TRegistry& Registry() {
    static TRegistry r;
    return r;
}

}  // namespace

void RegisterDriverClass(const std::string& AClassName, TDriverFactory AFactory) {
    auto& r = Registry();
    std::lock_guard<std::mutex> lock(r.Lock);
    r.Classes[AClassName] = std::move(AFactory);
}

std::unique_ptr<TBaseDriver> CreateDriverByName(const std::string& AClassName) {
    TDriverFactory factory;
    {
        auto& r = Registry();
        std::lock_guard<std::mutex> lock(r.Lock);
        const auto it = r.Classes.find(AClassName);
        if (it == r.Classes.end()) return nullptr;
        factory = it->second;
    }
    return factory();
}

}  // namespace fr
