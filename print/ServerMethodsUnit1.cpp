#include "ServerMethodsUnit1.h"

#include "DecodePayload.h"
#include "json_text.h"
#include "uUtil.h"
#include "utf8.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace {

const std::string kSucesso = "Realizada com sucesso.";
const std::string kIndefinido = "Erro: Indefinido.";
const std::string kErro = "Erro: ";
const std::string kErroAbrir = "Erro: Ao abrir dispositivo de impressao.\r";

// The message a failure carries, as it follows "Erro: ".
std::string messageOf(const std::exception &e) {
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return "Out of memory";
    return e.what();
}

// The text between the first `head` and the last `tail` UTF-16 units of
// `s`; a surrogate pair cut in half leaves U+FFFD for its half.
std::string cutUnits(const std::string &s, std::size_t head, std::size_t tail) {
    bool ascii = std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii)
        return s.size() <= head + tail ? std::string() : s.substr(head, s.size() - head - tail);
    std::size_t total = utf8::utf16Length(s);
    if (total <= head + tail)
        return {};
    std::size_t last = total - tail; // units [head, last) stay
    std::string out;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    std::size_t unit = 0, i = 0;
    while (i < s.size() && unit < last) {
        char32_t cp;
        std::size_t len = utf8::sequence(p + i, s.size() - i, cp);
        std::size_t units = len && cp >= 0x10000 ? 2 : 1;
        std::size_t take = len ? len : 1;
        if (unit >= head && unit + units <= last)
            out.append(s, i, take);
        else if (unit + units > head && unit < last)
            out += "\xEF\xBF\xBD"; // the half of a pair that lies inside
        unit += units;
        i += take;
    }
    return out;
}

} // namespace

namespace {
TDatabaseHost withSettings(TDatabaseHost host, const TServerMethods1::SettingsSource &settings) {
    if (!host.Settings)
        host.Settings = settings;
    return host;
}
} // namespace

TServerMethods1::TServerMethods1(SettingsSource settings, PagePrinter imprime, TDatabaseHost database)
    : TServerMethods1Database(withSettings(std::move(database), settings)), settings_(std::move(settings)),
      imprime_(std::move(imprime)) {}

TServerMethods1::~TServerMethods1() = default;

std::string TServerMethods1::print_texto(const std::string &Usuario, const std::string &senha,
                                         const std::string &Value) {
    (void)Usuario; // the transport has checked the caller already
    (void)senha;
    return imprimePayload(Value);
}

std::string TServerMethods1::updateprint_json(const std::string &Usuario, const std::string &senha,
                                              const json::Value *Value) {
    (void)Usuario;
    (void)senha;
    if (!Value || Value->isNull())
        return kErro + "Value nulo: esperado um objeto JSON com o texto codificado.";
    if (!Value->isObject())
        return kErro + "Value nao e um objeto JSON: esperado um objeto com o texto codificado.";
    // The object's JSON text without its first ten and last two characters:
    // for {"texto":"..."} that is the string value exactly as written.
    return imprimePayload(cutUnits(json::toJsonText(*Value), 10, 2));
}

std::string TServerMethods1::imprimePayload(const std::string &payload) {
    std::shared_ptr<const TSettings> settings = settings_ ? settings_() : nullptr;
    if (!settings)
        return kErro + "Configuracoes do servidor nao carregadas.";
    if (settings->op_impr == "2")
        return imprimePagina(*settings, payload);
    return imprimeCupom(*settings, payload);
}

std::string TServerMethods1::imprimeCupom(const TSettings &settings, const std::string &payload) {
    std::string result = kIndefinido;
    // A path too long fails here and leaves the method, before anything is opened.
    ReceiptDevice device(settings.vimpressora);
    try {
        device.Open();
    } catch (const IoError &e) {
        return kErroAbrir + e.what();
    }
    try {
        std::string texto = DecodePayload(payload);
        PrintReceipt(device, texto, settings.vtipo_impressora, settings.condensa == "S", settings.corta == "S");
        device.Close();
        result = kSucesso;
    } catch (const std::exception &e) {
        std::string message = messageOf(e);
        device.Close(); // a failure here leaves the method
        result = kErro + message;
    } catch (...) {
        device.Close();
        result = kErro + "Falha desconhecida na impressao.";
    }
    return result;
}

std::string TServerMethods1::imprimePagina(const TSettings &, const std::string &payload) {
    std::string result = kIndefinido;
    try {
        std::string texto = DecodePayload(payload);
        if (!imprime_)
            throw std::runtime_error("Impressao em pagina indisponivel neste servidor.");
        std::string erro;
        if (imprime_(texto, erro))
            result = kSucesso;
        else if (!erro.empty())
            result = erro;
    } catch (const std::exception &e) {
        result = kErro + messageOf(e);
    } catch (...) {
        result = kErro + "Falha desconhecida na impressao.";
    }
    return result;
}
