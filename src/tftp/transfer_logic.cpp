#include "tftp/transfer_logic.h"

#include "log/catalogue.h"
#include "tftp/packet.h"

namespace revuzada {

Step Patience::OnTimeout() {
    if (used_ >= retries_) return {Step::Do::End, false, IDS_TRANSFER_TIMEOUT};
    ++used_;
    return {Step::Do::Resend};
}

void ReadTransfer::BlockLoaded(std::size_t n) {
    length_ = n;
    WriteU16(packet_.data(), kData);
    WriteU16(packet_.data() + 2, block_);
}

Step ReadTransfer::OnDatagram(std::span<const std::uint8_t> datagram) {
    const auto header = ParseHeader(datagram);
    if (!header) return {};
    if (header->opcode == kError) return {Step::Do::End, false, IDS_PEER_ERROR};
    if (header->opcode != kAck) return {};
    if (header->block == block_) {
        patience_.Progress();
        if (length_ < kTftpBlockSize) return {Step::Do::End, false, IDS_TRANSFER_DONE};
        ++block_;  // 16 bits: after 65535 comes 0
        return {Step::Do::SendNext};
    }
    // The previous block acknowledged again: the client missed this one. Counted in ordinary
    // arithmetic, so while block 0 is outstanding no ACK qualifies (65535 included).
    if (block_ != 0 && header->block == block_ - 1)
        return {Step::Do::Resend, true, IDS_RETRANSMIT};
    return {Step::Do::Wait, true};
}

Step WriteTransfer::OnDatagram(std::span<const std::uint8_t> datagram) {
    const auto header = ParseHeader(datagram);
    if (!header) return {};
    if (header->opcode == kError) return {Step::Do::End, false, IDS_PEER_ERROR};
    if (header->opcode != kData) return {};
    if (header->block == expected_) {
        lastBlock_ = datagram.size() - 4 < kTftpBlockSize;
        return {Step::Do::Store};
    }
    // The block before: our ACK for it was lost or late. Answer again, store nothing.
    if (header->block == static_cast<std::uint16_t>(expected_ - 1)) return {Step::Do::Resend};
    return {};
}

Step WriteTransfer::BlockStored() {
    patience_.Progress();
    WriteU16(ack_.data() + 2, expected_);
    ++expected_;
    if (lastBlock_) return {Step::Do::End, false, IDS_TRANSFER_DONE};
    return {Step::Do::SendNext};
}

}  // namespace revuzada
