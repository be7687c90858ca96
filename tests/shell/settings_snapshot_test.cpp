#include <gtest/gtest.h>

#include <thread>

#include "uServerPrincipal.h"

// A reader holding a snapshot keeps a whole record while loads swap in new ones.
TEST(SettingsSnapshot, ReadersSeeWholeRecords) {
    TFormPrincipal form;
    auto make = [](const std::string &v) {
        TSettings s;
        s.Porta = s.Usuario = s.Senha = s.vimpressora = v;
        return s;
    };
    form.ReplaceSettings(make("a"));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            form.ReplaceSettings(make(i % 2 ? std::string(40, 'x') : "y"));
        stop = true;
    });
    while (!stop) {
        auto s = form.Settings();
        ASSERT_EQ(s->Porta, s->Usuario);
        ASSERT_EQ(s->Usuario, s->Senha);
        ASSERT_EQ(s->Senha, s->vimpressora);
    }
    writer.join();
}
