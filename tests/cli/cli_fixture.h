// A package folder, a home of its own and the host emulator, for runs of apply-update-cli.
#pragma once

#include "tests/cli/cli_process.h"
#include "tests/support/host_emulator.h"
#include "tests/support/temporary_directory.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace cli_test {

inline const std::string kLockCheckBytes(5000, '\x5a');
inline const std::string kUpdateBytes(90000, '\xa5');

// The usual package: update MYUPD from MYUPD.SVF, one lock entry.
inline void WriteStandardPackage(const std::filesystem::path& package) {
    std::filesystem::create_directories(package);
    test_support::WriteFile(package / "update.Ini",
                            "[Defaults]\r\nUpdate=MYUPD\r\nFilename=MYUPD.SVF\r\n"
                            "Lock1=APPLIB/ORDERS\r\nType1=*FILE\r\n");
    test_support::WriteFile(package / "W_CHKLCKSF.SVF", kLockCheckBytes);
    test_support::WriteFile(package / "MYUPD.SVF", kUpdateBytes);
}

inline std::unique_ptr<test_support::HostEmulator> StartHost(std::vector<std::string> options,
                                                             std::string password = "Secret1") {
    test_support::HostEmulatorConfig config;
    config.password = std::move(password);
    config.options = std::move(options);
    return std::make_unique<test_support::HostEmulator>(config);
}

inline std::string HostField(int port) {
    return "127.0.0.1:" + std::to_string(port);
}

// A call with the package, the host and the password in the environment; the program's
// home and configuration folder are the test's own.
inline CliCall PackageCall(const test_support::TemporaryDirectory& dir, const std::string& host,
                           const std::string& password) {
    CliCall call;
    call.arguments = {"--package", dir / "pkg", "--host", host, "--user", "QSECOFR", "--json"};
    call.workingDirectory = dir.Path();
    call.environment = {{"HOME", dir / "home"},
                        {"XDG_CONFIG_HOME", dir / "config"},
                        {"APPLY_UPDATE_PASSWORD", password}};
    return call;
}

inline QJsonObject Summary(const CliRun& run) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(run.SummaryLine())).object();
}

} // namespace cli_test
