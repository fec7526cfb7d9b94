#include "discarding_server.h"

#include "server_process.h"

#include "bench/common/process.h"

namespace bench {

DiscardingServer::DiscardingServer(const std::filesystem::path& home) : port_(FreeLoopbackPort()) {
    std::filesystem::create_directories(home);
    pid_ = StartServer(
        {APPLY_UPDATE_PYTHON, APPLY_UPDATE_DISCARDING_SERVER, std::to_string(port_), home.string()},
        port_);
}

DiscardingServer::~DiscardingServer() {
    StopProcess(pid_);
}

double DiscardingServer::CpuSeconds() const {
    return ProcessCpuSeconds(pid_, false);
}

} // namespace bench
