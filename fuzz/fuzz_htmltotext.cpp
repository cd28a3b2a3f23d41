// HTML to plain text on arbitrary markup, in code page 936 and in UTF-8, and
// on plain texts placed in the constructs whose layout is known, shown or
// not shown.
// Input: markup; its bytes cut at the first NUL also give two plain texts.

#include "FuzzSupport.h"

#include "results/HtmlToText.h"

#include <QStringDecoder>

namespace {

bool validUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// Text without markup: printable ASCII but '<' and '&', HTML white space, a
// no-break space, and two characters of more than one byte.
std::string plainText(const std::string& bytes)
{
    static const char* const others[] = {" ",  "\t",       "\n",       "\r\n",
                                         "\r", "\xc2\xa0", "\xc2\xa9", "\xe4\xb8\xad"};
    std::string out;
    for (unsigned char c : bytes) {
        if (c > 0x20 && c < 0x7f && c != '<' && c != '&')
            out += char(c);
        else
            out += others[c % std::size(others)];
    }
    return out;
}

bool collapsible(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// What a browser shows of plain text outside preformatted blocks: white space
// runs become one blank, none at either end; a no-break space is a character
// of its own that never merges.
std::string shownCollapsed(const std::string& text)
{
    std::string out;
    bool pending = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (collapsible(text[i])) {
            pending = true;
            continue;
        }
        if (pending && !out.empty())
            out += ' ';
        pending = false;
        out += text[i];
    }
    return out;
}

// Inside <pre>: white space kept, line ends as LF, the one line break right
// after the start tag dropped (only <pre> drops it).
std::string shownPreformatted(const std::string& text, bool preElement = true)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    if (preElement && !out.empty() && out[0] == '\n')
        out.erase(0, 1);
    return out;
}

std::string utf8Text(const std::string& html)
{
    return fuzz::str(HtmlToTextUtf8(fuzz::qba(html)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string markup(reinterpret_cast<const char*>(data), size);

    const QByteArray text = HtmlToText(fuzz::qba(markup));
    if (markup.empty())
        FUZZ_CHECK(text.isEmpty());
    // The walk never cuts a character in two, whatever the parser made of the
    // bytes it was given.
    FUZZ_CHECK(validUtf8(HtmlToTextUtf8(fuzz::qba(markup))));

    const std::vector<std::string> in = fuzz::parts(data, size, 2);
    const std::string a = plainText(in[0]), b = plainText(in[1]);
    const std::string shownA = shownCollapsed(a), shownB = shownCollapsed(b);

    FUZZ_CHECK_EQ(utf8Text(a), shownA);
    FUZZ_CHECK_EQ(utf8Text("<p>" + a + "</p>"), shownA);
    FUZZ_CHECK_EQ(utf8Text("<script>" + b + "</script><style>" + b + "</style>" + a), shownA);
    FUZZ_CHECK_EQ(utf8Text("<div hidden>" + b + "</div>" + a), shownA);
    FUZZ_CHECK_EQ(utf8Text("<pre>" + a + "</pre>"), shownPreformatted(a));
    FUZZ_CHECK_EQ(utf8Text("<div style='white-space:pre'>" + a + "</div>"),
                  shownPreformatted(a, false));
    // What a browser does not show: form fields' text, hidden elements, SVG
    // outside <text>.
    FUZZ_CHECK_EQ(utf8Text("<div><textarea>" + b + "</textarea><input value=x></div>" + a), shownA);
    FUZZ_CHECK_EQ(utf8Text("<div style='visibility:hidden'>" + b + "</div>" + a), shownA);
    FUZZ_CHECK_EQ(utf8Text("<p style='display:none'>" + b + "</p>" + a), shownA);
    FUZZ_CHECK_EQ(utf8Text("<div><svg>" + b + "<title>" + b + "</title></svg></div>" + a), shownA);
    // An option is a block of its own; a select's own text does not show.
    FUZZ_CHECK_EQ(utf8Text("<select>" + b + "<option>" + a + "</option></select>"), shownA);
    if (!shownA.empty() && !shownB.empty()) {
        FUZZ_CHECK_EQ(utf8Text("<p>" + a + "</p><p>" + b + "</p>"), shownA + "\n\n" + shownB);
        FUZZ_CHECK_EQ(utf8Text(a + "<br>" + b), shownA + "\n" + shownB);
        FUZZ_CHECK_EQ(utf8Text("<table><tr><td>" + a + "<td>" + b + "</table>"),
                      shownA + "\t" + shownB);
        FUZZ_CHECK_EQ(utf8Text("<div>" + a + "</div>" + b), shownA + "\n" + shownB);
    }
    if (std::none_of(a.begin(), a.end(), [](char c) { return c & 0x80; }))
        FUZZ_CHECK_EQ(HtmlToText(fuzz::qba(a)), shownA);
    return 0;
}
