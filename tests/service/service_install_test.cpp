#include <gtest/gtest.h>

#include <filesystem>

#include "service_process.h"

using testutil::ServiceProcess;

namespace {

// A stand-in systemctl that records its arguments, one call a line, and fails
// when its first argument is named in $SYSTEMCTL_FAIL.
struct FakeSystemd {
    explicit FakeSystemd(ServiceProcess &p) : p(p) {
        const std::string stub = p.dir().file("stub");
        std::filesystem::create_directories(stub);
        std::filesystem::create_directories(p.dir().file("units"));
        std::filesystem::create_directories(p.dir().file("run-systemd"));
        testutil::writeFile(stub + "/systemctl", "#!/bin/sh\n"
                                                 "echo \"$*\" >> \"$SYSTEMCTL_LOG\"\n"
                                                 "[ \"$1\" = \"$SYSTEMCTL_FAIL\" ] && { echo \"$1 refused\"; exit 1; }\n"
                                                 "exit 0\n");
        std::filesystem::permissions(stub + "/systemctl", std::filesystem::perms::owner_all);
        p.env()["PATH"] = stub + ":" + p.env()["PATH"];
        p.env()["SYSTEMCTL_LOG"] = p.dir().file("systemctl.log");
        p.env()["CORVANE_SYSTEMD_UNIT_DIR"] = p.dir().file("units");
        p.env()["CORVANE_SYSTEMD_RUNTIME_DIR"] = p.dir().file("run-systemd");
    }
    std::string calls() const {
        const auto log = p.dir().file("systemctl.log");
        return std::filesystem::exists(log) ? testutil::readFile(log) : "";
    }
    std::string unitPath() const { return p.dir().file("units/CorvaneDSPrinterService.service"); }
    ServiceProcess &p;
};

} // namespace

TEST(ServiceInstall, WritesEnablesAndRemovesTheUnit) {
    struct Case {
        std::vector<std::string> installArgs;
        bool silent;
    };
    for (const Case &c : {Case{{"/INSTALL"}, false}, Case{{"-install"}, false}, Case{{"/Install", "-SILENT"}, true},
                          Case{{"-silent", "/iNsTaLl"}, true}}) {
        SCOPED_TRACE(c.installArgs[0]);
        ServiceProcess p;
        FakeSystemd systemd(p);
        p.start(c.installArgs);
        ASSERT_EQ(p.wait(), 0) << p.err();
        EXPECT_EQ(p.out().empty(), c.silent) << p.out();
        EXPECT_EQ(systemd.calls(), "daemon-reload\nenable CorvaneDSPrinterService.service\n");
        const std::string unit = testutil::readFile(systemd.unitPath());
        EXPECT_NE(unit.find("Description=CorvaneDSPrinterService\n"), std::string::npos);
        EXPECT_NE(unit.find("Type=notify\n"), std::string::npos);
        EXPECT_NE(unit.find("ExecStart=" + p.executable() + "\n"), std::string::npos) << unit;
        EXPECT_NE(unit.find("User=root\n"), std::string::npos);
        EXPECT_NE(unit.find("WantedBy=multi-user.target\n"), std::string::npos);
        // Hardened, with the error folder as the state folder and the
        // program's own folder (its settings) left writable.
        for (const char *line : {"NoNewPrivileges=yes\n", "ProtectSystem=full\n", "ProtectHome=read-only\n",
                                 "PrivateTmp=yes\n", "StateDirectory=CorvaneDSPrinterService\n"})
            EXPECT_NE(unit.find(line), std::string::npos) << line;
        EXPECT_NE(unit.find("ReadWritePaths=-" + std::filesystem::path(p.executable()).parent_path().string() + "\n"),
                  std::string::npos)
            << unit;
        // Nothing that would close the device list (printer devices) or hide /dev.
        for (const char *setting : {"PrivateDevices=", "DeviceAllow=", "DevicePolicy=", "ProtectClock="})
            EXPECT_EQ(unit.find(setting), std::string::npos) << setting;

        p.start({"/UNINSTALL"});
        ASSERT_EQ(p.wait(), 0) << p.err();
        EXPECT_FALSE(std::filesystem::exists(systemd.unitPath()));
        EXPECT_EQ(systemd.calls(), "daemon-reload\nenable CorvaneDSPrinterService.service\n"
                                   "disable --now CorvaneDSPrinterService.service\ndaemon-reload\n");
    }
}

TEST(ServiceInstall, PathWithASpaceIsQuoted) {
    ServiceProcess p("my programs");
    FakeSystemd systemd(p);
    p.start({"/INSTALL", "/SILENT"});
    ASSERT_EQ(p.wait(), 0) << p.err();
    const std::string unit = testutil::readFile(systemd.unitPath());
    EXPECT_NE(unit.find("ExecStart=\"" + p.executable() + "\"\n"), std::string::npos);
    EXPECT_NE(unit.find("ReadWritePaths=\"-" + std::filesystem::path(p.executable()).parent_path().string() + "\"\n"),
              std::string::npos)
        << unit;
}

// Failures are reported even with SILENT, and leave nothing behind.
TEST(ServiceInstall, FailuresAreReportedAndChangeNothing) {
    {
        ServiceProcess p;
        FakeSystemd systemd(p);
        p.env()["SYSTEMCTL_FAIL"] = "enable";
        p.start({"/INSTALL", "/SILENT"});
        EXPECT_EQ(p.wait(), 1);
        EXPECT_NE(p.err().find("failed to install"), std::string::npos) << p.err();
        EXPECT_NE(p.err().find("enable refused"), std::string::npos) << p.err();
        EXPECT_FALSE(std::filesystem::exists(systemd.unitPath()));
    }
    {
        ServiceProcess p;
        FakeSystemd systemd(p);
        p.env()["CORVANE_SYSTEMD_RUNTIME_DIR"] = p.dir().file("no-such-folder");
        for (const char *sw : {"/INSTALL", "/UNINSTALL"}) {
            p.start({sw});
            EXPECT_EQ(p.wait(), 1);
            EXPECT_NE(p.err().find("systemd is not running"), std::string::npos) << p.err();
        }
        EXPECT_EQ(systemd.calls(), "");
        EXPECT_TRUE(std::filesystem::is_empty(p.dir().file("units")));
    }
}
