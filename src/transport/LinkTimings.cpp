#include "transport/LinkTimings.h"

namespace fr {
namespace {

TLinkTimings& Current() {
    static TLinkTimings timings;
    return timings;
}

}  // namespace

const TLinkTimings& LinkTimings() { return Current(); }

void SetLinkTimings(const TLinkTimings& t) { Current() = t; }

}  // namespace fr
