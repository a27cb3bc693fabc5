// Reading a printed report back as a user reads the paper: the text of each page, the words with
// their places, and the paper size, through poppler's pdftotext and pdfinfo.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace sorv::test {

// The folder of this run's PDF files, removed at its end.
inline std::filesystem::path tempDir() {
    static struct Dir {
        std::filesystem::path path;
        Dir() {
            std::string tmpl = (std::filesystem::temp_directory_path() / "sorvreport-XXXXXX").string();
            path = mkdtemp(tmpl.data());
        }
        ~Dir() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } dir;
    return dir.path;
}

// Output of a poppler tool run on `pdf` (pdftotext writes to the file named last, the others to
// their standard output); the test fails when the tool does not run.
inline std::string poppler(const std::string& tool, const std::string& options,
                           const std::filesystem::path& pdf) {
    const std::filesystem::path out = pdf.string() + "." + tool + ".out";
    const std::string command = tool + " " + options + " '" + pdf.string() + "' " +
                                (tool == "pdftotext" ? "" : "> ") + "'" + out.string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(out);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The text of every page, laid out as on the paper.
inline std::vector<std::string> pdfPages(const std::filesystem::path& pdf) {
    const std::string text = poppler("pdftotext", "-layout", pdf);
    std::vector<std::string> pages;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find('\f', from)) != std::string::npos; from = at + 1)
        pages.push_back(text.substr(from, at - from));
    return pages;
}

// Width and height of the first page in points.
inline std::pair<double, double> pdfPageSize(const std::filesystem::path& pdf) {
    const std::string info = poppler("pdfinfo", "", pdf);
    std::smatch m;
    static const std::regex size(R"(Page size:\s+([\d.]+) x ([\d.]+) pts)");
    if (!std::regex_search(info, m, size)) return {0, 0};
    return {std::stod(m[1]), std::stod(m[2])};
}

// A word with its box in points from the page's top left.
struct PdfWord {
    double xMin, yMin, xMax, yMax;
    std::string text;
    int page;
};
inline std::vector<PdfWord> pdfWords(const std::filesystem::path& pdf) {
    const std::string html = poppler("pdftotext", "-bbox", pdf);
    static const std::regex item(
        R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    std::vector<PdfWord> words;
    int page = 0;
    for (std::sregex_iterator it(html.begin(), html.end(), item), end; it != end; ++it) {
        if (!(*it)[1].matched) {
            ++page;
            continue;
        }
        words.push_back({std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4]),
                         (*it)[5], page});
    }
    return words;
}
inline const PdfWord* findWord(const std::vector<PdfWord>& words, const std::string& text, int page = 0) {
    for (const PdfWord& w : words)
        if (w.text == text && (page == 0 || w.page == page)) return &w;
    return nullptr;
}

} // namespace sorv::test
