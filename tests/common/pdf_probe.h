#pragma once

// Reads printed PDFs back the way a reader sees them, through poppler's command
// line tools (pdftotext -bbox, pdfinfo, pdffonts), and finds the PDF that a
// cups-pdf queue made of a job.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pdfprobe {

inline constexpr double kPtPerMm = 72.0 / 25.4;

inline std::string quoted(const std::string &s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a shell command and answers its standard output; throws when it fails.
inline std::string run(const std::string &command) {
    FILE *pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    if (pclose(pipe) != 0)
        throw std::runtime_error("command failed: " + command);
    return out;
}

struct Word {
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0; // points, y from the page's top
    std::string text;
};

// Words that share a baseline, left to right, joined by one space.
struct Line {
    double xMin = 0, yMin = 0, xMax = 0;
    std::string text;
    std::vector<Word> words;
};

struct Page {
    double width = 0, height = 0;
    std::vector<Word> words;

    std::vector<Line> lines() const {
        std::vector<Word> sorted = words;
        std::stable_sort(sorted.begin(), sorted.end(), [](const Word &a, const Word &b) { return a.yMin < b.yMin; });
        std::vector<Line> out;
        for (const Word &w : sorted) {
            if (out.empty() || std::abs(out.back().yMin - w.yMin) > 1.0)
                out.push_back({w.xMin, w.yMin, w.xMax, "", {}});
            out.back().words.push_back(w);
        }
        for (Line &l : out) {
            std::sort(l.words.begin(), l.words.end(), [](const Word &a, const Word &b) { return a.xMin < b.xMin; });
            l.xMin = l.words.front().xMin;
            l.xMax = l.words.back().xMax;
            for (const Word &w : l.words)
                l.text += (l.text.empty() ? "" : " ") + w.text;
        }
        return out;
    }
};

// Greedy wrapping of a monospaced UTF-8 text at `columns` characters, breaking
// at spaces (a longer word is cut): what a reader expects of a fixed-width block.
inline std::vector<std::string> monospaceWrap(const std::string &para, size_t columns) {
    std::vector<size_t> starts; // byte offset of each character, then the end
    for (size_t i = 0; i < para.size(); ++i)
        if ((static_cast<unsigned char>(para[i]) & 0xC0) != 0x80)
            starts.push_back(i);
    const size_t n = starts.size();
    starts.push_back(para.size());
    auto piece = [&](size_t from, size_t to) { return para.substr(starts[from], starts[to] - starts[from]); };
    auto space = [&](size_t c) { return para[starts[c]] == ' '; };
    std::vector<std::string> out;
    size_t s = 0;
    while (s < n) {
        if (n - s <= columns) {
            size_t e = n;
            while (e > s && space(e - 1))
                --e;
            out.push_back(piece(s, e));
            break;
        }
        size_t b = s + columns;
        while (b > s && !space(b))
            --b;
        if (b == s) {
            out.push_back(piece(s, s + columns));
            s += columns;
            continue;
        }
        size_t e = b;
        while (e > s && space(e - 1))
            --e;
        out.push_back(piece(s, e));
        s = b;
        while (s < n && space(s))
            ++s;
    }
    return out;
}

// A number attribute of a tag, read whatever the process's number format is.
inline double attribute(const std::string &tag, const std::string &name) {
    size_t p = tag.find(" " + name + "=\"");
    if (p == std::string::npos)
        throw std::runtime_error("no " + name + " in " + tag);
    p += name.size() + 3;
    double value = 0;
    std::from_chars(tag.data() + p, tag.data() + tag.size(), value);
    return value;
}

inline std::string unescape(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        static const std::pair<const char *, char> entities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        bool done = false;
        for (auto [name, c] : entities) {
            if (s.compare(i, std::char_traits<char>::length(name), name) == 0) {
                out += c;
                i += std::char_traits<char>::length(name) - 1;
                done = true;
                break;
            }
        }
        if (!done)
            out += '&';
    }
    return out;
}

inline std::vector<Page> readPages(const std::string &pdf) {
    std::string xml = run("pdftotext -bbox " + quoted(pdf) + " -");
    std::vector<Page> pages;
    for (size_t p = xml.find('<'); p != std::string::npos; p = xml.find('<', p + 1)) {
        size_t close = xml.find('>', p);
        std::string tag = xml.substr(p, close - p + 1);
        if (tag.rfind("<page ", 0) == 0) {
            pages.push_back({attribute(tag, "width"), attribute(tag, "height"), {}});
        } else if (tag.rfind("<word ", 0) == 0 && !pages.empty()) {
            size_t end = xml.find("</word>", close);
            pages.back().words.push_back({attribute(tag, "xMin"), attribute(tag, "yMin"), attribute(tag, "xMax"),
                                          attribute(tag, "yMax"), unescape(xml.substr(close + 1, end - close - 1))});
        }
    }
    return pages;
}

// The names of the fonts the PDF uses, without the subset prefix ("ABCDEF+").
inline std::vector<std::string> fonts(const std::string &pdf) {
    std::string out = run("pdffonts " + quoted(pdf));
    std::vector<std::string> names;
    size_t pos = out.find("---");
    pos = out.find('\n', pos);
    while (pos != std::string::npos && pos + 1 < out.size()) {
        size_t end = out.find('\n', pos + 1);
        std::string line = out.substr(pos + 1, end - pos - 1);
        std::string name = line.substr(0, line.find(' '));
        if (auto plus = name.find('+'); plus != std::string::npos)
            name.erase(0, plus + 1);
        if (!name.empty())
            names.push_back(name);
        pos = end;
    }
    return names;
}

inline std::string info(const std::string &pdf) {
    return run("pdfinfo " + quoted(pdf));
}

// The folder a cups-pdf test queue writes to.
inline std::filesystem::path queueOutput(const std::string &queue) {
    const char *out = std::getenv("CUPS_OUT");
    return std::filesystem::path(out && *out ? out : "/tmp/cups-out") / queue;
}

// Whether the scheduler has finished job `id` of `queue` (completed, cancelled or aborted).
inline bool jobFinished(const std::string &queue, int id) {
    const std::string name = queue + "-" + std::to_string(id) + " ";
    std::string list;
    try {
        list = run("lpstat -W completed -o " + quoted(queue));
    } catch (const std::exception &) {
        return false;
    }
    for (size_t p = list.find(name); p != std::string::npos; p = list.find(name, p + 1))
        if (p == 0 || list[p - 1] == '\n')
            return true;
    return false;
}

// Waits for the PDF of job `id` on a cups-pdf queue (named "<title>-job_<id>.pdf")
// and answers its path once pdfinfo reads it whole; empty after the timeout, or
// when the job has finished and its file is not there (another test took it).
inline std::string waitForJob(const std::string &queue, int id,
                              std::chrono::seconds timeout = std::chrono::seconds(30)) {
    const std::string suffix = "-job_" + std::to_string(id) + ".pdf";
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const bool finished = jobFinished(queue, id); // before looking: its file is complete by then
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(queueOutput(queue), ec)) {
            std::string name = entry.path().filename().string();
            if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
                try {
                    info(entry.path().string());
                    return entry.path().string();
                } catch (const std::exception &) {
                    // still being written
                }
            }
        }
        if (finished)
            return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

} // namespace pdfprobe
