#pragma once

#include <memory>

#include "tftp/request.h"

namespace revuzada {

// Serves one request to its end; owns the record.
int TftpTransferThread(std::unique_ptr<TftpRequest> request, const TransferLimits& limits);

}  // namespace revuzada
