#include "transport/LinkTimings.h"

#include "transport/LinkFrame.h"

namespace fr {
namespace {

thread_local int tWriteAttempts = link::kAttempts;

TLinkTimings& Current() {
    static TLinkTimings timings;
    return timings;
}

}  // namespace

const TLinkTimings& LinkTimings() { return Current(); }

void SetLinkTimings(const TLinkTimings& t) { Current() = t; }

int LinkWriteAttempts() { return tWriteAttempts; }

TScopedSingleWrite::TScopedSingleWrite() : FSaved(tWriteAttempts) { tWriteAttempts = 1; }

TScopedSingleWrite::~TScopedSingleWrite() { tWriteAttempts = FSaved; }

}  // namespace fr
