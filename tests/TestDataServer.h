#pragma once

// The reference data server for tests that link zeza_dataserver_lib.

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "server/DataServer.h"

namespace zeza::test {

// The reference data server on a free port of 127.0.0.1 serving the folder dataDir, or
// relay's snapshots when one is given; nullptr (and the test fails) when it does not start.
inline std::unique_ptr<server::DataServer> StartDataServer(const std::filesystem::path& dataDir,
                                                           std::shared_ptr<relay::Relay> relay = nullptr) {
    server::DataServer::Options o;
    o.dataDir = dataDir;
    o.port = 0;
    o.relay = std::move(relay);
    auto srv = std::make_unique<server::DataServer>(o);
    std::string error;
    if (srv->Start(error)) return srv;
    ADD_FAILURE() << "data server not started: " << error;
    return nullptr;
}

}  // namespace zeza::test
