// HTML to plain text on arbitrary markup, in code page 936 and in UTF-8.

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray html(reinterpret_cast<const char*>(data), qsizetype(size));

    const QByteArray text = HtmlToText(html);
    if (html.isEmpty())
        FUZZ_CHECK(text.isEmpty());

    // The walk never cuts a character in two, whatever the parser made of the
    // bytes it was given.
    FUZZ_CHECK(validUtf8(HtmlToTextUtf8(html)));

    // A run of letters and digits is the page's whole text, as it stands.
    QByteArray word;
    for (char c : html) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            word.append(c);
    }
    FUZZ_CHECK_EQ(HtmlToText(word), word);
    FUZZ_CHECK_EQ(HtmlToText("<p>" + word + "</p>"), word);
    return 0;
}
