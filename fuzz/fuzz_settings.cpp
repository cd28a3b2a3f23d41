// The settings reader on a damaged file, and a write into that file read back.
// Input: section, NUL, key, NUL, value, NUL, the file's bytes.

#include "FuzzSupport.h"

#include "settings/SettingsStore.h"
#include "util/ReqlarkError.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <iterator>
#include <optional>

#include <sys/stat.h>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool hasLineBreak(const std::string& s)
{
    return s.find_first_of("\r\n") != std::string::npos;
}

bool blankAtEnd(const std::string& s)
{
    return !s.empty() && (isBlank(s.front()) || isBlank(s.back()));
}

// Names the file format can carry: a section on one "[...]" line whose name is
// read trimmed; a key on one "key=value" line, read trimmed up to the first
// "=", that does not look like a section line.
bool representable(const std::string& section, const std::string& key)
{
    return !hasLineBreak(section) && !blankAtEnd(section) && !hasLineBreak(key) &&
           !blankAtEnd(key) && key.find('=') == std::string::npos && (key.empty() || key[0] != '[');
}

// A value comes back as written, except that a line break cannot stand on an
// INI line and is written as one blank.
std::string readBack(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' || value[i] == '\n') {
            if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
            out += ' ';
        } else {
            out += value[i];
        }
    }
    return out;
}

std::optional<int> referenceInteger(const std::string& text)
{
    size_t i = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
    if (i == text.size())
        return std::nullopt;
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), 1LL << 40);
    }
    const long long number = text[0] == '-' ? -magnitude : magnitude;
    if (number < INT32_MIN || number > INT32_MAX)
        return std::nullopt;
    return int(number);
}

void checkInteger(const SettingsStore& store, const QByteArray& section, const QByteArray& key)
{
    const std::string text = fuzz::str(store.readString(section, key, "7"));
    const std::optional<int> expected = referenceInteger(text);
    FUZZ_CHECK(SettingsStore::toInteger(fuzz::qba(text)) == expected);
    try {
        const int got = store.readInteger(section, key, 7);
        FUZZ_CHECK(expected && got == *expected);
    } catch (const ReqlarkError&) {
        FUZZ_CHECK(!expected);
    }
}

struct Key
{
    QByteArray section;
    QByteArray key;
};

// Keys of the program, read before and after every write: a write of another
// key must leave them as they were.
const Key kWatched[] = {{"History", "URL"},
                        {"History", "Method"},
                        {"Options", "UseProxy"},
                        {"Options", "FontName"},
                        {"options", "proxyserver"}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir scratch;
    FUZZ_CHECK(scratch.isValid());
    const QString path = scratch.filePath(QStringLiteral("settings.ini"));

    const std::vector<std::string> in = fuzz::parts(data, size, 4);
    const std::string &section = in[0], &key = in[1], &value = in[2], &file = in[3];
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(f.write(file.data(), qint64(file.size())) == qint64(file.size()));
    }

    SettingsStore store(path);
    std::vector<QByteArray> before;
    for (const Key& k : kWatched) {
        before.push_back(store.readString(k.section, k.key, "<absent>"));
        checkInteger(store, k.section, k.key);
    }
    checkInteger(store, fuzz::qba(section), fuzz::qba(key));
    ReadProxySettings(store);

    if (representable(section, key)) {
        struct stat made = {};
        FUZZ_CHECK(::stat(QFile::encodeName(path).constData(), &made) == 0);
        store.writeString(fuzz::qba(section), fuzz::qba(key), fuzz::qba(value));
        FUZZ_CHECK_EQ(store.readString(fuzz::qba(section), fuzz::qba(key)), readBack(value));
        FUZZ_CHECK_EQ(SettingsStore(path).readString(fuzz::qba(section), fuzz::qba(key)),
                      readBack(value));
        for (size_t i = 0; i < std::size(kWatched); ++i) {
            const Key& k = kWatched[i];
            if (fuzz::folded(section) == fuzz::str(k.section.toLower()) &&
                fuzz::folded(key) == fuzz::str(k.key.toLower()))
                continue;
            FUZZ_CHECK_EQ(store.readString(k.section, k.key, "<absent>"), before[i]);
        }
        // A file the store did not make keeps its mode.
        struct stat st = {};
        FUZZ_CHECK(::stat(QFile::encodeName(path).constData(), &st) == 0);
        FUZZ_CHECK((st.st_mode & 07777) == (made.st_mode & 07777));
    }
    QFile::remove(path);
    return 0;
}
