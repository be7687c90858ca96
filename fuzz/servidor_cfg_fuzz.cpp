// Feeds arbitrary bytes as servidor.cfg to the reader and to the settings
// dialog's filling, and checks the code page conversion round trip.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "servidor_cfg.h"
#include "settings_text.h"
#include "uScramble.h"
#include "uServerConfig.h"

namespace {

const std::string &Folder() {
    static const std::string folder = [] {
        char tmpl[] = "/tmp/fuzz-servidor-cfg-XXXXXX";
        if (!mkdtemp(tmpl))
            abort();
        SetExecutableFolder(tmpl);
        static std::string made = tmpl;
        std::atexit([] {
            ::unlink((made + "/" + kServidorCfgName).c_str());
            ::rmdir(made.c_str());
        });
        return made + "/";
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const std::string path = Folder() + kServidorCfgName;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        abort();
    ::close(fd);

    const ServidorCfgLines lines = ReadServidorCfg(path);
    for (const auto &line : lines) {
        if (line.find('\n') != std::string::npos || line.find('\x1A') != std::string::npos)
            abort();
        const std::string value = unscramble(line);
        if (!line.empty() && value.size() != line.size() - 1)
            abort();
        if (ToAnsi(FromAnsi(line)) != line) // Windows-1252 keeps every byte
            abort();
        UpperCase(FromAnsi(value));
        DigitsOnly(line);
    }
    ToAnsi(bytes); // arbitrary bytes taken as UTF-8

    TServerConfigMemoryView view;
    TFormServerConfig form(view, {}, {}, {});
    form.FormCreate();
    form.FormShow();
    for (auto spin : {ServerConfigControl::SpinEdit1, ServerConfigControl::SpinEdit2, ServerConfigControl::SpinEdit3}) {
        const SpinEditRange r = SpinRange(spin);
        if (view.Value(spin) < r.MinValue || view.Value(spin) > r.MaxValue)
            abort();
    }
    return 0;
}
