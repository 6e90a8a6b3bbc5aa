#pragma once
// Driver classes registered by name, so the add-in object can create the class it was told.

#include <functional>
#include <memory>
#include <string>

#include "framework/BaseDriver.h"

namespace fr {

using TDriverFactory = std::function<std::unique_ptr<TBaseDriver>()>;

// Registers (or replaces) the factory of AClassName.
void RegisterDriverClass(const std::string& AClassName, TDriverFactory AFactory);
// A new driver of the registered class; nullptr when no class has that name.
std::unique_ptr<TBaseDriver> CreateDriverByName(const std::string& AClassName);

template <class T>
void RegisterDriverClass(const std::string& AClassName) {
    RegisterDriverClass(AClassName, [] { return std::unique_ptr<TBaseDriver>(TBaseDriver::Create<T>()); });
}

}  // namespace fr
