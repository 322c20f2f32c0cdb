#include "tftp/transfer.h"

namespace revuzada {

int TftpTransferThread(std::unique_ptr<TftpRequest> request, const TransferLimits&) {
    request.reset();  // stand-in until transfers are served
    return 0;
}

}  // namespace revuzada
