#include "notify/handler.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "log/catalogue.h"
#include "log/format.h"
#include "log/log.h"
#include "pack/language_pack.h"
#include "tftp/udp.h"

namespace revuzada {

namespace {

// A notification line is formatted once, into at most this many bytes.
constexpr std::size_t kNotifyLineLimit = 1023;

template <typename... Args>
std::string CatalogueLine(CatalogueId id, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg("")};
    return FormatText(LoadText(id), std::span<const FormatArg>(list, sizeof...(Args)),
                      kNotifyLineLimit);
}

NotifyBytes ImageReply(bool present) {
    if (!present) return NotifyBytes{};
    NotifyPacket reply;
    reply.magic = kNotifyMagic;
    return WriteNotifyPacket(reply);
}

}  // namespace

bool ImageOpens(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}

NotifyAction DecideNotify(std::span<const std::uint8_t> received, std::string_view senderAddress,
                          const std::string& imagePath) {
    if (received.size() > kNotifyPacketSize) return {std::nullopt, CatalogueLine(IDS_RECVFROM_FAILED, EMSGSIZE)};
    const auto packet = ReadNotifyPacket(received);
    if (!packet || !packet->HasMagic()) return {std::nullopt, CatalogueLine(IDS_NOTIFY_BAD_MAGIC)};

    const std::uint32_t type = packet->type;
    const std::int32_t value = packet->value;
    switch (type) {
        case 0:
            return {ImageReply(ImageOpens(imagePath)), CatalogueLine(IDS_NOTIFY_TYPE0, senderAddress)};
        case 1: return {std::nullopt, CatalogueLine(IDS_NOTIFY_TYPE1, senderAddress)};
        case 2: return {std::nullopt, CatalogueLine(IDS_NOTIFY_TYPE2, senderAddress)};
        case 6: return {std::nullopt, CatalogueLine(IDS_NOTIFY_TYPE6, senderAddress)};
        case 7: return {std::nullopt, CatalogueLine(IDS_NOTIFY_TYPE7, senderAddress)};
        case 8: return {std::nullopt, CatalogueLine(IDS_NOTIFY_TYPE8, senderAddress, value)};
        case 9: return {std::nullopt, CatalogueLine(IDS_NOTIFY_TYPE9, senderAddress, value)};
        default: return {std::nullopt, CatalogueLine(IDS_NOTIFY_OTHER, senderAddress, type, value)};
    }
}

int HandleNotify(int socket, const sockaddr_in& sender, std::span<const std::uint8_t> received,
                 const std::string& imagePath) {
    const NotifyAction action = DecideNotify(received, DottedAddress(sender), imagePath);
    if (action.reply) {
        // A reply that cannot be sent is not reported; the line is logged all the same.
        (void)::sendto(socket, action.reply->data(), action.reply->size(), MSG_DONTWAIT,
                       reinterpret_cast<const sockaddr*>(&sender), sizeof sender);
    }
    // The line is finished: it goes to the log as text, never to be read as a format again.
    LogEvent("%s", action.logText);
    return 0;
}

}  // namespace revuzada
