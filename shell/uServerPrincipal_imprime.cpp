#include "uServerPrincipal.h"

#include <langinfo.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "printers.h"
#include "uRel_ocorr.h"

namespace {

// Failures of the number conversions, with the runtime's texts.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string formatted(const char *fmt, const std::string &a, const char *b = "") {
    std::vector<char> buf(a.size() + 128);
    std::snprintf(buf.data(), buf.size(), fmt, a.c_str(), b);
    return buf.data();
}

// The decimal separator of the machine's regional number format (LC_NUMERIC).
std::string decimalSeparator() {
    const char *radix = nl_langinfo(RADIXCHAR);
    return radix && *radix ? radix : ".";
}

// A decimal number in the regional format: blanks around it, a sign, digits with
// at most one decimal separator, an optional exponent. No thousands separators.
double StrToFloat(const std::string &S) {
    const std::string sep = decimalSeparator();
    auto invalid = [&] { return EConvertError(formatted("'%s' is not a valid floating point value", S)); };
    size_t i = 0, end = S.size();
    while (i < end && S[i] == ' ')
        ++i;
    while (end > i && S[end - 1] == ' ')
        --end;
    std::string plain; // the number in the C format for from_chars
    if (i < end && (S[i] == '+' || S[i] == '-')) {
        if (S[i] == '-')
            plain += '-';
        ++i;
    }
    bool digits = false, point = false;
    while (i < end) {
        if (S[i] >= '0' && S[i] <= '9') {
            plain += S[i++];
            digits = true;
        } else if (!point && S.compare(i, sep.size(), sep) == 0) {
            plain += '.';
            point = true;
            i += sep.size();
        } else {
            break;
        }
    }
    if (!digits)
        throw invalid();
    if (i < end && (S[i] == 'e' || S[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < end && (S[i] == '+' || S[i] == '-'))
            plain += S[i++];
        bool expDigits = false;
        while (i < end && S[i] >= '0' && S[i] <= '9') {
            plain += S[i++];
            expDigits = true;
        }
        if (!expDigits)
            throw invalid();
    }
    if (i != end)
        throw invalid();
    double value = 0;
    auto [ptr, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc() || ptr != plain.data() + plain.size() || !std::isfinite(value))
        throw invalid();
    return value;
}

// A whole number of the Integer type: leading blanks, a sign, decimal digits or
// hexadecimal ones after "$" or "0x".
int StrToInt(const std::string &S) {
    auto invalid = [&] {
        return EConvertError(formatted("'%s' is not a valid integer value for %s type", S, "Integer"));
    };
    size_t i = 0;
    while (i < S.size() && S[i] == ' ')
        ++i;
    bool negative = false;
    if (i < S.size() && (S[i] == '+' || S[i] == '-'))
        negative = S[i++] == '-';
    int base = 10;
    if (i < S.size() && S[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < S.size() && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    long long magnitude = 0;
    auto [ptr, ec] = std::from_chars(S.data() + i, S.data() + S.size(), magnitude, base);
    if (ec != std::errc() || ptr != S.data() + S.size() || ptr == S.data() + i || magnitude < 0)
        throw invalid();
    long long value = negative ? -magnitude : magnitude;
    if (value < INT_MIN || value > INT_MAX)
        throw invalid();
    return static_cast<int>(value);
}

// The text as a line list reads it back: split at CR LF, lone CR or lone LF,
// cut at the first NUL, every line (the last one too) ended by CR LF.
std::string LinesText(const std::string &value) {
    std::string text = value.substr(0, value.find('\0'));
    std::string out;
    out.reserve(text.size() + 2);
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        out.append(text, start, i - start).append("\r\n");
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        out.append(text, start, std::string::npos).append("\r\n");
    return out;
}

// Page prints run one at a time: each builds its own report, but the printer
// list and the print jobs are taken in one piece.
std::mutex &pagePrintLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

bool TFormPrincipal::imprime(const std::string &value, std::string &erro) {
    erro.clear();
    std::lock_guard<std::mutex> serialised(pagePrintLock());
    const std::shared_ptr<const TSettings> settings = Settings();
    try {
        // The report and the line text belong to this call and go with it.
        auto Rel_ocorr = std::make_unique<TRel_ocorr>(PagePrinters);
        const std::string texto = LinesText(value);
        Rel_ocorr->qrmemo1.caption = texto;
        Rel_ocorr->Report.page.leftMargin = StrToFloat(settings->mesquerda);
        Rel_ocorr->Report.page.topMargin = StrToFloat(settings->msuperior);
        Rel_ocorr->qrmemo1.font.size = StrToInt(settings->fonte_tam);
        Rel_ocorr->qrmemo1.font.bold = true;

        const std::string &vimpressora = settings->vimpressora;
        const std::vector<std::string> &installed = Rel_ocorr->Printers();
        for (size_t i = 0; i < installed.size(); ++i) {
            // Every match overwrites the choice: the last one in the list wins.
            if (!vimpressora.empty() && installed[i].find(vimpressora) != std::string::npos)
                Rel_ocorr->PrinterSettings.PrinterIndex = static_cast<int>(i);
        }
        Rel_ocorr->Print();
        return true;
    } catch (const std::exception &e) {
        erro = "Erro: " + std::string(e.what());
    } catch (...) {
        erro = "Erro: Unknown failure while printing the page.";
    }
    return false;
}
