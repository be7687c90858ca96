#include "ServerContainerUnit1.h"

namespace {

using datasnap::DataType;
using datasnap::Direction;
using V = json::Value;

datasnap::ClassInfo describeTServerMethods1(TServerMethods1::SettingsSource settings,
                                            TServerMethods1::PagePrinter imprime) {
    datasnap::ClassInfo c;
    c.name = "TServerMethods1";
    c.create = [settings = std::move(settings), imprime = std::move(imprime)] {
        return std::shared_ptr<void>(std::make_shared<TServerMethods1>(settings, imprime));
    };
    const datasnap::ParamInfo usuario{"Usuario", DataType::WideString, Direction::In};
    const datasnap::ParamInfo senha{"senha", DataType::WideString, Direction::In};
    const datasnap::ParamInfo result{"ReturnParameter", DataType::WideString, Direction::Return};
    c.methods.push_back({"print_texto",
                         {usuario, senha, {"Value", DataType::WideString, Direction::In}, result},
                         datasnap::bindMethod<TServerMethods1>([](TServerMethods1 &self, std::vector<V> &in) {
                             return std::vector<V>{V::string(self.print_texto(
                                 datasnap::stringArg(in[0]), datasnap::stringArg(in[1]), datasnap::stringArg(in[2])))};
                         })});
    c.methods.push_back({"updateprint_json",
                         {usuario, senha, {"Value", DataType::JsonValue, Direction::In}, result},
                         datasnap::bindMethod<TServerMethods1>([](TServerMethods1 &self, std::vector<V> &in) {
                             return std::vector<V>{V::string(self.updateprint_json(
                                 datasnap::stringArg(in[0]), datasnap::stringArg(in[1]), datasnap::jsonArg(in[2])))};
                         })});
    return c;
}

} // namespace

TServerContainer1::TServerContainer1(TServerMethods1::SettingsSource settings, TServerMethods1::PagePrinter imprime)
    : settings_(std::move(settings)), imprime_(std::move(imprime)),
      TServerMethods1Class_(describeTServerMethods1(settings_, imprime_)) {
    // Settings from the form description.
    DSServer1.AutoStart = false;
#ifdef CORVANE_HAS_TCP_TRANSPORT
    DSTCPServerTransport1.Filters = {
        datasnap::TransportFilter::pc1("mKpRuTqWbNcZxJvL"),
        datasnap::TransportFilter::zlib(1024),
    };
#endif
    DSTCPServerTransport1.AuthenticationManager = &DSAuthenticationManager1;
    DSAuthenticationManager1.OnUserAuthenticate = [this](auto &Sender, auto &Protocol, auto &Context, auto &User,
                                                         auto &Password, bool &valid, auto &UserRoles) {
        DSAuthenticationManager1UserAuthenticate(Sender, Protocol, Context, User, Password, valid, UserRoles);
    };
    DSAuthenticationManager1.OnUserAuthorize = [this](auto &Sender, auto &EventObject, bool &valid) {
        DSAuthenticationManager1UserAuthorize(Sender, EventObject, valid);
    };
    DSServerClass1.OnGetClass = [this](datasnap::ServerClass &entry, const datasnap::ClassInfo *&cls) {
        DSServerClass1GetClass(entry, cls);
    };
    DSHTTPService1.HttpPort = 1234;
    DSServer1.Loaded();
}

TServerContainer1::~TServerContainer1() { DSServer1.Stop(); }

void TServerContainer1::DSServerClass1GetClass(datasnap::ServerClass &DSServerClass,
                                               const datasnap::ClassInfo *&PersistentClass) {
    (void)DSServerClass;
    PersistentClass = &TServerMethods1Class_;
}

void TServerContainer1::DSAuthenticationManager1UserAuthenticate(datasnap::AuthenticationManager &Sender,
                                                                 const std::string &Protocol,
                                                                 const std::string &Context, const std::string &User,
                                                                 const std::string &Password, bool &valid,
                                                                 std::vector<std::string> &UserRoles) {
    (void)Sender;
    (void)Protocol;
    (void)Context;
    (void)UserRoles;
    std::shared_ptr<const TSettings> s = settings_ ? settings_() : nullptr;
    const TSettings empty;
    const TSettings &record = s ? *s : empty;
    // An unconfigured server (no account in the settings) admits nobody.
    if (record.Usuario.empty() || record.Senha.empty()) {
        valid = false;
        return;
    }
    valid = User == record.Usuario && Password == record.Senha;
}

void TServerContainer1::DSAuthenticationManager1UserAuthorize(datasnap::AuthenticationManager &Sender,
                                                              const datasnap::AuthorizeEventObject &EventObject,
                                                              bool &valid) {
    (void)Sender;
    (void)EventObject;
    valid = true;
}
