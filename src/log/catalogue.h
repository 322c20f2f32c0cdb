#pragma once
// Numbers of the message catalogue: every text the program loads from the language pack by number.

#include <span>
#include <string_view>

namespace revuzada {

enum CatalogueId : int {
    IDS_BROWSE_TITLE = 57666,
    IDS_LOG_COLUMN = 57667,
    IDS_ALREADY_RUNNING = 57668,
    IDS_ERRSEND_FAILED = 57669,
    IDS_CONNECT_FAILED = 57670,
    IDS_NEW_REQUEST = 57671,
    IDS_OPEN_FAILED = 57672,
    IDS_READ_START = 57673,
    IDS_DATA_SEND_FAILED = 57674,
    IDS_ACK_RECV_FAILED = 57675,
    IDS_PEER_ERROR = 57676,
    IDS_RETRANSMIT = 57677,
    IDS_TRANSFER_DONE = 57678,
    IDS_BAD_OPCODE = 57679,
    IDS_TFTP_PORT_FAILED = 57680,
    IDS_LOCAL_ADDRESS = 57681,
    IDS_SELECT_FAILED = 57682,
    IDS_RECVFROM_FAILED = 57683,
    IDS_NOTIFY_TYPE0 = 57684,
    IDS_NOTIFY_TYPE1 = 57685,
    IDS_NOTIFY_TYPE2 = 57686,
    IDS_NOTIFY_TYPE6 = 57687,
    IDS_NOTIFY_TYPE7 = 57689,
    IDS_NOTIFY_TYPE8 = 57690,
    IDS_NOTIFY_TYPE9 = 57691,
    IDS_NOTIFY_OTHER = 57692,
    IDS_NOTIFY_PORT_FAILED = 57693,
    IDS_NOTIFY_BAD_MAGIC = 57694,
    IDS_WRITE_START = 57695,
    IDS_ACK_SEND_FAILED = 57696,
    IDS_DATA_RECV_FAILED = 57697,
    IDS_TRANSFER_TIMEOUT = 57698,
    IDS_ACCESS_DENIED = 57699,
    IDS_WRITE_FAILED = 57700,
    IDS_LOG_FILE_FAILED = 57701,
    IDS_BAD_REQUEST = 57702,
};

// How a text is used: formatted as a log line, or shown as it stands.
enum class TextUse { LogLine, Verbatim };

struct CatalogueEntry {
    int id;
    std::string_view name;
    TextUse use;
    // One letter per argument, in order: 's' a string, 'i' an int, 'u' an unsigned 32-bit value.
    std::string_view args;
};

std::span<const CatalogueEntry> Catalogue();

}  // namespace revuzada
