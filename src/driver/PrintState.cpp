// TDriver: the helpers around a printed document — finishing an interrupted document, waiting
// for the printing (and for paper), cutting.

#include <algorithm>

#include "driver/Driver.h"

namespace fr {

namespace {

bool PrintInterrupted(std::uint8_t ASubmode) {
    return ASubmode == kSubmodePaperOut || ASubmode == kSubmodeAwaitingContinue;
}

// Submodes in which the register no longer waits for paper: nothing pending (0, 1) or printing
// (4, 5).
bool LeftPaperWait(std::uint8_t ASubmode) { return ASubmode <= 1 || ASubmode == 4 || ASubmode == 5; }

// The register's submode; a failed state query leaves ASubmode as it was.
void ReadSubmode(TDevice& ADevice, std::uint8_t& ASubmode) {
    TBytes flags;
    std::uint8_t mode = 0;
    ADevice.GetECRState(flags, mode, ASubmode);
}

}  // namespace

std::int32_t TDriver::CheckPrintState() {
    if (!FDevice) return errDeviceNotReady;
    // A register that cannot be asked counts as having nothing pending: the operation's own
    // commands will report it.
    std::uint8_t submode = 0;
    ReadSubmode(*FDevice, submode);
    if (!PrintInterrupted(submode)) return 0;

    if (const std::int32_t result = FDevice->ContinuePrint(); result != 0) return result;
    FDevice->WaitForEndPrinting();
    ReadSubmode(*FDevice, submode);
    if (PrintInterrupted(submode)) return errPrintFailed;
    // The document's own cut never came: its print was given up on before it.
    CutAfterDocument(false, true, -1);
    return errPreviousDocumentPrinted;
}

std::int32_t TDriver::WaitPrintCompletion() {
    if (!FDevice) return errDeviceNotReady;
    TDeviceClock& clock = FDevice->Clock();
    for (int continuation = 0;; ++continuation) {
        // The wait has its own bound; what counts is the submode it leaves the register in.
        FDevice->WaitForEndPrinting();
        std::uint8_t submode = 0;
        ReadSubmode(*FDevice, submode);
        if (submode != kSubmodePaperOut) return 0;
        if (continuation == kMaxPrintContinuations) return errPrintFailed;

        // Out of paper: give the user time to load it. Paper seen only on the last poll is too
        // late; the document stays with the register and the next operation finishes it.
        bool paperLoaded = false;
        for (int poll = 1; poll <= kPaperWaitPolls; ++poll) {
            clock.Sleep(kPaperWaitPollInterval);
            ReadSubmode(*FDevice, submode);
            if (submode == kSubmodeAwaitingContinue) {
                paperLoaded = poll < kPaperWaitPolls;
                break;
            }
            if (LeftPaperWait(submode)) return errPrintFailed;
        }
        if (!paperLoaded) return errPrintFailed;
        if (const std::int32_t result = FDevice->ContinuePrint(); result != 0) return result;
    }
}

void TDriver::CutAfterDocument(bool ANoCut, bool ARespectAutoCut, std::int32_t ALineCount) {
    if (ANoCut || (ARespectAutoCut && FAutoCut) || !FDevice) return;
    if (ALineCount == -1) {
        FDevice->Cut(false);
    } else {
        FDevice->FeedAndCut(static_cast<std::uint8_t>(std::clamp(ALineCount, 0, 255)));
    }
}

}  // namespace fr
