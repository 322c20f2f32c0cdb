// One notification datagram, as the listener hands it on: at most 21 bytes (a longer one is
// seen as longer), exactly the received ones.
//
// Checks: nothing past the received bytes is read; only a 12 to 20 byte datagram with the
// magic and type 0 is answered, with 20 bytes that say only whether the image opens; every
// datagram yields one finished line of at most 1023 bytes, with no percent sign left for a
// second formatting and nothing that would split it.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "notify/handler.h"
#include "notify/packet.h"

using namespace revuzada;

namespace {

std::string g_present;  // a file that opens for reading: this program
const std::string kMissing = "/nonexistent/fwpack.img";

void Check(std::span<const std::uint8_t> received, const std::string& imagePath, bool opens) {
    const NotifyAction action = DecideNotify(received, "127.0.0.1", imagePath);
    FUZZ_CHECK(!action.logText.empty() && action.logText.size() <= 1023);
    FUZZ_CHECK(action.logText.find('%') == std::string::npos);
    FUZZ_CHECK(fuzz::SingleLine(action.logText));
    const bool query = received.size() >= kNotifyMinimumSize && received.size() <= kNotifyPacketSize &&
                       std::equal(kNotifyMagic.begin(), kNotifyMagic.end(), received.begin()) &&
                       received[4] == 0 && received[5] == 0 && received[6] == 0 && received[7] == 0;
    FUZZ_CHECK(action.reply.has_value() == query);
    if (!action.reply) return;
    NotifyBytes expected{};
    if (opens) std::copy(kNotifyMagic.begin(), kNotifyMagic.end(), expected.begin());
    FUZZ_CHECK(*action.reply == expected);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
    fuzz::InstallEnglishPack();
    g_present = (*argv)[0];
    FUZZ_CHECK(ImageOpens(g_present));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kNotifyPacketSize + 1) return -1;
    auto received = std::make_unique<std::uint8_t[]>(size);
    if (size) std::memcpy(received.get(), data, size);
    Check({received.get(), size}, g_present, true);
    Check({received.get(), size}, kMissing, false);
    return 0;
}
