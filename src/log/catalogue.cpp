#include "log/catalogue.h"

namespace revuzada {

namespace {
constexpr CatalogueEntry kEntries[] = {
    {IDS_BROWSE_TITLE, "IDS_BROWSE_TITLE", TextUse::Verbatim, ""},
    {IDS_LOG_COLUMN, "IDS_LOG_COLUMN", TextUse::Verbatim, ""},
    {IDS_ALREADY_RUNNING, "IDS_ALREADY_RUNNING", TextUse::Verbatim, ""},
    {IDS_ERRSEND_FAILED, "IDS_ERRSEND_FAILED", TextUse::LogLine, "i"},
    {IDS_CONNECT_FAILED, "IDS_CONNECT_FAILED", TextUse::LogLine, "i"},
    {IDS_NEW_REQUEST, "IDS_NEW_REQUEST", TextUse::LogLine, "s"},
    {IDS_OPEN_FAILED, "IDS_OPEN_FAILED", TextUse::LogLine, "s"},
    {IDS_READ_START, "IDS_READ_START", TextUse::LogLine, "s"},
    {IDS_DATA_SEND_FAILED, "IDS_DATA_SEND_FAILED", TextUse::LogLine, ""},
    {IDS_ACK_RECV_FAILED, "IDS_ACK_RECV_FAILED", TextUse::LogLine, ""},
    {IDS_PEER_ERROR, "IDS_PEER_ERROR", TextUse::LogLine, ""},
    {IDS_RETRANSMIT, "IDS_RETRANSMIT", TextUse::LogLine, ""},
    {IDS_TRANSFER_DONE, "IDS_TRANSFER_DONE", TextUse::LogLine, "s"},
    {IDS_BAD_OPCODE, "IDS_BAD_OPCODE", TextUse::LogLine, "i"},
    {IDS_TFTP_PORT_FAILED, "IDS_TFTP_PORT_FAILED", TextUse::Verbatim, ""},
    {IDS_LOCAL_ADDRESS, "IDS_LOCAL_ADDRESS", TextUse::LogLine, "s"},
    {IDS_SELECT_FAILED, "IDS_SELECT_FAILED", TextUse::LogLine, "i"},
    {IDS_RECVFROM_FAILED, "IDS_RECVFROM_FAILED", TextUse::LogLine, "i"},
    {IDS_NOTIFY_TYPE0, "IDS_NOTIFY_TYPE0", TextUse::LogLine, "s"},
    {IDS_NOTIFY_TYPE1, "IDS_NOTIFY_TYPE1", TextUse::LogLine, "s"},
    {IDS_NOTIFY_TYPE2, "IDS_NOTIFY_TYPE2", TextUse::LogLine, "s"},
    {IDS_NOTIFY_TYPE6, "IDS_NOTIFY_TYPE6", TextUse::LogLine, "s"},
    {IDS_NOTIFY_TYPE7, "IDS_NOTIFY_TYPE7", TextUse::LogLine, "s"},
    {IDS_NOTIFY_TYPE8, "IDS_NOTIFY_TYPE8", TextUse::LogLine, "si"},
    {IDS_NOTIFY_TYPE9, "IDS_NOTIFY_TYPE9", TextUse::LogLine, "si"},
    {IDS_NOTIFY_OTHER, "IDS_NOTIFY_OTHER", TextUse::LogLine, "sui"},
    {IDS_NOTIFY_PORT_FAILED, "IDS_NOTIFY_PORT_FAILED", TextUse::Verbatim, ""},
    {IDS_NOTIFY_BAD_MAGIC, "IDS_NOTIFY_BAD_MAGIC", TextUse::LogLine, ""},
    {IDS_WRITE_START, "IDS_WRITE_START", TextUse::LogLine, "s"},
    {IDS_ACK_SEND_FAILED, "IDS_ACK_SEND_FAILED", TextUse::LogLine, ""},
    {IDS_DATA_RECV_FAILED, "IDS_DATA_RECV_FAILED", TextUse::LogLine, ""},
    {IDS_TRANSFER_TIMEOUT, "IDS_TRANSFER_TIMEOUT", TextUse::LogLine, "s"},
    {IDS_ACCESS_DENIED, "IDS_ACCESS_DENIED", TextUse::LogLine, "s"},
    {IDS_WRITE_FAILED, "IDS_WRITE_FAILED", TextUse::LogLine, "si"},
    {IDS_LOG_FILE_FAILED, "IDS_LOG_FILE_FAILED", TextUse::LogLine, "si"},
    {IDS_BAD_REQUEST, "IDS_BAD_REQUEST", TextUse::LogLine, "s"},
};
}  // namespace

std::span<const CatalogueEntry> Catalogue() { return kEntries; }

}  // namespace revuzada
