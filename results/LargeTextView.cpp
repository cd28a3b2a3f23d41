#include "results/LargeTextView.h"

#include "util/Utf8Sequence.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QTimer>
#include <QWheelEvent>

#include <cstring>
#include <optional>
#include <string.h> // memrchr
#include <unordered_map>
#include <vector>

// The text is shown in pieces: a piece is a whole line, or, for a line longer
// than kCut bytes, a part of it. Lines are cut at fixed places of the text
// (multiples of kCut, moved back to just after a blank or a punctuation mark
// found within kCutSlack bytes), and a place counts only where the kCut bytes
// before it and its own byte hold no line end. So the piece holding any
// position is found from the few kilobytes around it, never from the start of
// its line, and no piece is longer than 2 * kCut bytes. Each piece is laid out
// with QTextLayout when it comes on screen; the view's top is the byte offset
// of its first line, and the scroll bar runs over byte offsets.

namespace {

constexpr qint64 kCut = 4096;
constexpr qint64 kCutSlack = 128;
constexpr int kMargin = 4;
constexpr qreal kTabStop = 80;
// A laid-out piece costs some forty times its text; beyond a few screens'
// worth the cache keeps only what is shown.
constexpr size_t kMaxCachedPieces = 600;
constexpr qint64 kMaxCachedBytes = qint64(256) << 10;
constexpr qint64 kSearchChunk = qint64(1) << 20;

inline bool breaksAfter(char c)
{
    return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '>' || c == '}' || c == ']' ||
           c == ')';
}

// +1 for Ctrl with plus (or =, the key plus is on), -1 for Ctrl with minus.
int zoomStep(const QKeyEvent* key)
{
    if (key->matches(QKeySequence::ZoomIn))
        return 1;
    if (key->matches(QKeySequence::ZoomOut))
        return -1;
    const Qt::KeyboardModifiers modifiers =
        key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if (modifiers != Qt::ControlModifier)
        return 0;
    if (key->key() == Qt::Key_Plus || key->key() == Qt::Key_Equal)
        return 1;
    if (key->key() == Qt::Key_Minus || key->key() == Qt::Key_Underscore)
        return -1;
    return 0;
}

bool isZoomReset(const QKeyEvent* key)
{
    return (key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier &&
           key->key() == Qt::Key_0;
}

// First LF or CR in [from, to), or -1.
qint64 findLineEnd(const char* d, qint64 from, qint64 to)
{
    if (from >= to)
        return -1;
    const auto* lf = static_cast<const char*>(std::memchr(d + from, '\n', size_t(to - from)));
    const qint64 crTo = lf ? lf - d : to;
    if (const void* cr = std::memchr(d + from, '\r', size_t(crTo - from)))
        return static_cast<const char*>(cr) - d;
    return lf ? lf - d : -1;
}

// Last LF or CR in [from, to), or -1.
qint64 findLineEndBack(const char* d, qint64 from, qint64 to)
{
    if (from >= to)
        return -1;
    const auto* lf = static_cast<const char*>(memrchr(d + from, '\n', size_t(to - from)));
    const qint64 crFrom = lf ? lf - d + 1 : from;
    if (crFrom < to) {
        if (const void* cr = memrchr(d + crFrom, '\r', size_t(to - crFrom)))
            return static_cast<const char*>(cr) - d;
    }
    return lf ? lf - d : -1;
}

// Bytes [0, n) as UTF-16, and for each unit the offset of the byte its
// character starts at (plus the end). Each byte that starts no character is
// one U+FFFD. With `controls`, a control character other than the tab is
// shown in caret notation (^@ for NUL, ^? for DEL): two units for the one
// byte, whatever the font has, and their places are added to `controls`.
void decode(const char* data, qint64 n, std::vector<int>* controls, QString& out,
            std::vector<qint32>& byteAt)
{
    const qint64 most = controls ? 2 * n : n;
    out = QString(qsizetype(most), Qt::Uninitialized);
    byteAt.resize(size_t(most) + 1);
    auto* o = reinterpret_cast<char16_t*>(out.data());
    const auto* p = reinterpret_cast<const uchar*>(data);
    qsizetype u = 0;
    for (qint64 i = 0; i < n;) {
        const uchar c = p[i];
        if (c < 0x80) {
            byteAt[size_t(u)] = qint32(i);
            if (controls && ((c < 0x20 && c != '\t') || c == 0x7F)) {
                controls->push_back(int(u));
                o[u++] = u'^';
                byteAt[size_t(u)] = qint32(i);
                o[u++] = c == 0x7F ? u'?' : char16_t(c + 0x40);
            } else {
                o[u++] = c;
            }
            ++i;
            continue;
        }
        char32_t cp = 0;
        const int len = int(Utf8SequenceAt(p + i, size_t(n - i), cp));
        byteAt[size_t(u)] = qint32(i);
        if (len == 0) {
            o[u++] = 0xFFFD;
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            o[u++] = QChar::highSurrogate(cp);
            byteAt[size_t(u)] = qint32(i);
            o[u++] = QChar::lowSurrogate(cp);
        } else {
            o[u++] = char16_t(cp);
        }
        i += len;
    }
    byteAt[size_t(u)] = qint32(n);
    out.truncate(u);
    byteAt.resize(size_t(u) + 1);
}

// ---- characters for screen readers ---------------------------------------

// The start of the character holding `pos` (a CR LF pair is two characters).
qint64 characterStart(const char* data, qint64 n, qint64 pos)
{
    pos = std::clamp<qint64>(pos, 0, n);
    const auto* d = reinterpret_cast<const uchar*>(data);
    if (pos < n && IsUtf8Continuation(d[pos])) {
        for (qint64 lead = pos - 1; lead >= 0 && lead >= pos - 3; --lead) {
            if (IsUtf8Continuation(d[lead]))
                continue;
            char32_t cp;
            const int len = int(Utf8SequenceAt(d + lead, size_t(n - lead), cp));
            if (lead + len > pos)
                pos = lead;
            break;
        }
    }
    return pos;
}

// The bytes and the UTF-16 units of the character at `byte`, as decode()
// (without caret notation) makes them.
inline std::pair<int, int> characterWidth(const uchar* d, qint64 n, qint64 byte)
{
    if (d[byte] < 0x80)
        return {1, 1};
    char32_t cp = 0;
    const int len = int(Utf8SequenceAt(d + byte, size_t(n - byte), cp));
    if (len == 0)
        return {1, 1};
    return {len, cp >= 0x10000 ? 2 : 1};
}

inline bool eightAscii(const uchar* p)
{
    quint64 w;
    std::memcpy(&w, p, 8);
    return (w & 0x8080808080808080ULL) == 0;
}

// From (byte, unit) at a character start to the first character start at or
// after `target`.
void walkToByte(const uchar* d, qint64 n, qint64& byte, qint64& unit, qint64 target)
{
    target = std::min(target, n);
    while (byte < target) {
        if (byte + 8 <= target && eightAscii(d + byte)) {
            byte += 8;
            unit += 8;
            continue;
        }
        const auto [bytes, units] = characterWidth(d, n, byte);
        byte += bytes;
        unit += units;
    }
}

// From (byte, unit) to the last character start whose unit is at most
// `target` (the start of a surrogate pair `target` falls into).
void walkToUnit(const uchar* d, qint64 n, qint64& byte, qint64& unit, qint64 target)
{
    while (byte < n && unit < target) {
        if (byte + 8 <= n && unit + 8 <= target && eightAscii(d + byte)) {
            byte += 8;
            unit += 8;
            continue;
        }
        const auto [bytes, units] = characterWidth(d, n, byte);
        if (unit + units > target)
            break;
        byte += bytes;
        unit += units;
    }
}

// Bytes [0, n) as screen readers get them: controls as themselves.
QString decodeCharacters(const char* data, qint64 n)
{
    QString out(qsizetype(n), Qt::Uninitialized);
    auto* o = reinterpret_cast<char16_t*>(out.data());
    const auto* p = reinterpret_cast<const uchar*>(data);
    qsizetype u = 0;
    for (qint64 i = 0; i < n;) {
        if (p[i] < 0x80) {
            o[u++] = p[i++];
            continue;
        }
        char32_t cp = 0;
        const int len = int(Utf8SequenceAt(p + i, size_t(n - i), cp));
        if (len == 0) {
            o[u++] = 0xFFFD;
            ++i;
        } else if (cp >= 0x10000) {
            o[u++] = QChar::highSurrogate(cp);
            o[u++] = QChar::lowSurrogate(cp);
            i += len;
        } else {
            o[u++] = char16_t(cp);
            i += len;
        }
    }
    out.truncate(u);
    return out;
}

constexpr qint64 kCheckpointBytes = qint64(64) << 10;

// ---- search -------------------------------------------------------------

struct Match
{
    qint64 start;
    qint64 end;
};

// What Qt's case folding makes of the code points: which ones have another
// that folds the same, and which non-ASCII ones fold into ASCII (the Kelvin
// sign and the long s), so that an ASCII search can tell when the text may
// hold one of them.
struct Folding
{
    std::vector<bool> variant;
    std::vector<std::pair<QByteArray, char32_t>> intoAscii; // UTF-8, folded
};

const Folding& folding()
{
    static const Folding f = [] {
        Folding made;
        made.variant.assign(0x110000, false);
        for (char32_t cp = 0; cp < 0x110000; ++cp) {
            const char32_t folded = QChar::toCaseFolded(cp);
            if (folded == cp)
                continue;
            made.variant[cp] = true;
            made.variant[folded] = true;
            if (cp >= 0x80 && folded < 0x80)
                made.intoAscii.push_back({QString::fromUcs4(&cp, 1).toUtf8(), folded});
        }
        return made;
    }();
    return f;
}

// 'A'..'Z' to 'a'..'z', eight bytes at a time.
void lowerAscii(const char* in, qint64 n, char* out)
{
    qint64 i = 0;
    constexpr quint64 ones = 0x0101010101010101ULL;
    for (; i + 8 <= n; i += 8) {
        quint64 w;
        std::memcpy(&w, in + i, 8);
        const quint64 low7 = w & (0x7F * ones);
        const quint64 upper =
            ((low7 + (0x80 - 'A') * ones) ^ (low7 + (0x80 - 'Z' - 1) * ones)) & ~w & (0x80 * ones);
        w |= upper >> 2;
        std::memcpy(out + i, &w, 8);
    }
    for (; i < n; ++i) {
        const char c = in[i];
        out[i] = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
    }
}

qint64 firstOccurrence(const char* hay, qint64 n, const QByteArray& needle)
{
    const void* at = memmem(hay, size_t(n), needle.constData(), size_t(needle.size()));
    return at ? static_cast<const char*>(at) - hay : -1;
}

qint64 lastOccurrence(const char* hay, qint64 n, const QByteArray& needle)
{
    qint64 last = -1;
    for (qint64 from = 0;;) {
        const qint64 at = firstOccurrence(hay + from, n - from, needle);
        if (at < 0)
            return last;
        last = from + at;
        from = last + 1;
    }
}

// A search over the text in chunks of about a megabyte, each looked at with
// a little of the next one, so that a match across the seam is found too.
class Searcher
{
public:
    Searcher(const QByteArray& text, const QString& needle, bool matchCase)
        : m_d(text.constData()), m_n(text.size()), m_needle(needle)
    {
        m_bytes = needle.toUtf8();
        if (matchCase) {
            m_mode = Bytes;
            return;
        }
        const Folding& f = folding();
        const QList<uint> codes = needle.toUcs4();
        bool ascii = true;
        bool caseless = true;
        for (uint cp : codes) {
            ascii = ascii && cp < 0x80;
            caseless = caseless && !f.variant[cp];
        }
        if (caseless) {
            m_mode = Bytes;
        } else if (ascii) {
            m_mode = AsciiFolded;
            lowerAscii(m_bytes.constData(), m_bytes.size(), m_bytes.data());
            for (const auto& [utf8, folded] : f.intoAscii) {
                if (m_bytes.contains(char(folded)))
                    m_outsiders.push_back(utf8);
            }
        } else {
            m_mode = Decoded;
        }
    }

    // The first match starting at `from` or after it.
    std::optional<Match> forward(qint64 from)
    {
        for (qint64 a = from; a < m_n;) {
            const qint64 b = a + kSearchChunk >= m_n ? m_n : charStart(a + kSearchChunk);
            if (std::optional<Match> m = inChunk(a, b, false))
                return m;
            a = b;
        }
        return std::nullopt;
    }

    // The last match starting before `before`.
    std::optional<Match> backward(qint64 before)
    {
        for (qint64 b = before; b > 0;) {
            const qint64 a = b <= kSearchChunk ? 0 : charStart(b - kSearchChunk);
            if (std::optional<Match> m = inChunk(a, b, true))
                return m;
            b = a;
        }
        return std::nullopt;
    }

private:
    enum Mode
    {
        Bytes,
        AsciiFolded,
        Decoded
    };

    qint64 charStart(qint64 pos) const
    {
        for (int i = 0; i < 3 && pos > 0 && pos < m_n && IsUtf8Continuation(uchar(m_d[pos])); ++i)
            --pos;
        return pos;
    }

    // A match starting in [a, b), the first or the last one.
    std::optional<Match> inChunk(qint64 a, qint64 b, bool last)
    {
        const qint64 m = m_bytes.size();
        if (m_mode != Decoded) {
            const qint64 hi = std::min(m_n, b + m - 1);
            const char* hay = m_d + a;
            if (m_mode == AsciiFolded) {
                if (hasOutsider(a, hi))
                    return decoded(a, b, last);
                m_lowered.resize(size_t(hi - a));
                lowerAscii(m_d + a, hi - a, m_lowered.data());
                hay = m_lowered.data();
            }
            const qint64 at =
                last ? lastOccurrence(hay, hi - a, m_bytes) : firstOccurrence(hay, hi - a, m_bytes);
            if (at < 0)
                return std::nullopt;
            return Match{a + at, a + at + m};
        }
        return decoded(a, b, last);
    }

    bool hasOutsider(qint64 a, qint64 hi) const
    {
        for (const QByteArray& o : m_outsiders) {
            if (firstOccurrence(m_d + a, hi - a, o) >= 0)
                return true;
        }
        return false;
    }

    // Through Qt's own case-insensitive search of the decoded chunk; a
    // matched character takes at most four bytes.
    std::optional<Match> decoded(qint64 a, qint64 b, bool last)
    {
        const qint64 hi = std::min(m_n, charStart(std::min(m_n, b + 4 * m_needle.size() + 4)));
        decode(m_d + a, hi - a, nullptr, m_chunk, m_byteAt);
        const auto startOf = [&](qsizetype unit) { return a + m_byteAt[size_t(unit)]; };
        qsizetype at = last ? m_chunk.lastIndexOf(m_needle, -1, Qt::CaseInsensitive)
                            : m_chunk.indexOf(m_needle, 0, Qt::CaseInsensitive);
        while (last && at > 0 && startOf(at) >= b)
            at = m_chunk.lastIndexOf(m_needle, at - 1, Qt::CaseInsensitive);
        if (at < 0 || startOf(at) >= b)
            return std::nullopt;
        return Match{startOf(at), startOf(at + m_needle.size())};
    }

    const char* m_d;
    qint64 m_n;
    QString m_needle;
    QByteArray m_bytes;
    Mode m_mode = Bytes;
    std::vector<QByteArray> m_outsiders;
    std::vector<char> m_lowered;
    QString m_chunk;
    std::vector<qint32> m_byteAt;
};

// ---- pieces -------------------------------------------------------------

struct Piece
{
    qint64 start = 0;
    qint64 end = 0;   // after its last character: a line end, a cut or the end
    qint64 next = -1; // start of the following piece; -1 for the last one
    QString text;     // as shown
    std::vector<qint32> byteAt;
    std::vector<int> controls; // where caret notation stands in for a control character
    QTextLayout layout;

    int unitOf(qint64 pos) const
    {
        const auto it =
            std::lower_bound(byteAt.begin(), byteAt.end(), qint32(std::min(pos, end) - start));
        return int(it - byteAt.begin());
    }
    qint64 posOf(int unit) const { return start + byteAt[size_t(unit)]; }
    int lineOf(qint64 pos) const
    {
        const int unit = unitOf(pos);
        int lo = 0;
        int hi = layout.lineCount() - 1;
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (layout.lineAt(mid).textStart() <= unit)
                lo = mid;
            else
                hi = mid - 1;
        }
        return lo;
    }
};

using PiecePtr = std::shared_ptr<Piece>;

struct LineRef
{
    PiecePtr piece;
    int line = -1;

    bool valid() const { return piece != nullptr; }
    QTextLine textLine() const { return piece->layout.lineAt(line); }
    qreal height() const { return textLine().height(); }
    qint64 start() const { return piece->posOf(textLine().textStart()); }
    qint64 end() const
    {
        const QTextLine l = textLine();
        return piece->posOf(l.textStart() + l.textLength());
    }
};

} // namespace

struct LargeTextView::Layout
{
    struct Shown
    {
        LineRef line;
        qreal y;
    };

    explicit Layout(const QByteArray& text) : m_text(text) {}

    const char* data() const { return m_text.constData(); }
    qint64 size() const { return m_text.size(); }

    // The start of the character (or CR LF pair) holding `pos`.
    qint64 normalize(qint64 pos) const
    {
        const qint64 n = size();
        pos = characterStart(data(), n, pos);
        const auto* d = reinterpret_cast<const uchar*>(data());
        if (pos > 0 && pos < n && d[pos] == '\n' && d[pos - 1] == '\r')
            --pos;
        return pos;
    }

    bool cutActive(qint64 g) const
    {
        return g >= kCut && g < size() && findLineEnd(data(), g - kCut, g + 1) < 0;
    }

    qint64 cutAt(qint64 g) const
    {
        const char* d = data();
        for (qint64 q = g; q > g - kCutSlack; --q) {
            if (breaksAfter(d[q - 1]))
                return q;
        }
        qint64 q = g;
        while (q > g - 3 && IsUtf8Continuation(uchar(d[q])))
            --q;
        return q;
    }

    // The start of the piece holding the (normalized) position.
    qint64 pieceStartFor(qint64 pos) const
    {
        const qint64 lo = std::max<qint64>(0, pos - 3 * kCut - kCutSlack);
        const qint64 lineEnd = findLineEndBack(data(), lo, pos);
        qint64 best = lineEnd >= 0 ? lineEnd + 1 : (lo == 0 ? 0 : -1);
        for (qint64 k = pos / kCut + 1; k >= std::max<qint64>(1, pos / kCut - 2); --k) {
            if (!cutActive(k * kCut))
                continue;
            const qint64 c = cutAt(k * kCut);
            if (c > pos)
                continue;
            best = std::max(best, c);
            break;
        }
        return std::max<qint64>(best, 0);
    }

    struct Bounds
    {
        qint64 end;  // after its last character
        qint64 next; // start of the following piece; -1 for the last one
    };

    // Where the piece starting at `start` ends, without laying it out.
    Bounds boundsOf(qint64 start) const
    {
        const qint64 n = size();
        const char* d = data();
        qint64 nextCut = -1;
        for (qint64 k = start / kCut + 1; k * kCut < n && k * kCut <= start + 3 * kCut; ++k) {
            if (!cutActive(k * kCut))
                continue;
            const qint64 c = cutAt(k * kCut);
            if (c > start) {
                nextCut = c;
                break;
            }
        }
        const qint64 scanTo =
            std::min(nextCut >= 0 ? nextCut : n, start + 2 * kCut + kCutSlack + 1);
        const qint64 lineEnd = findLineEnd(d, start, scanTo);
        if (lineEnd >= 0)
            return {lineEnd,
                    lineEnd +
                        (d[lineEnd] == '\r' && lineEnd + 1 < n && d[lineEnd + 1] == '\n' ? 2 : 1)};
        return {scanTo, scanTo < n ? scanTo : -1};
    }

    PiecePtr pieceStarting(qint64 start)
    {
        const auto found = m_cache.find(start);
        if (found != m_cache.end())
            return found->second;
        auto piece = std::make_shared<Piece>();
        piece->start = start;
        const char* d = data();
        const Bounds bounds = boundsOf(start);
        piece->end = bounds.end;
        piece->next = bounds.next;
        decode(d + start, piece->end - start, &piece->controls, piece->text, piece->byteAt);
        layOut(*piece);
        m_cache.emplace(start, piece);
        m_cachedBytes += piece->end - piece->start;
        return piece;
    }

    void layOut(Piece& piece) const
    {
        QTextLayout& layout = piece.layout;
        layout.setText(piece.text);
        layout.setFont(m_font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setTabStopDistance(kTabStop);
        layout.setTextOption(option);
        layout.setCacheEnabled(true);
        layout.beginLayout();
        qreal y = 0;
        for (;;) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLeadingIncluded(true);
            line.setLineWidth(std::max<qreal>(m_width, 1));
            line.setPosition(QPointF(0, y));
            y += line.height();
        }
        layout.endLayout();
    }

    PiecePtr pieceAt(qint64 pos) { return pieceStarting(pieceStartFor(normalize(pos))); }

    LineRef lineAt(qint64 pos)
    {
        PiecePtr piece = pieceAt(pos);
        const int line = piece->lineOf(normalize(pos));
        return {std::move(piece), line};
    }

    LineRef next(const LineRef& r)
    {
        if (r.line + 1 < r.piece->layout.lineCount())
            return {r.piece, r.line + 1};
        if (r.piece->next < 0)
            return {};
        return {pieceStarting(r.piece->next), 0};
    }

    LineRef previous(const LineRef& r)
    {
        if (r.line > 0)
            return {r.piece, r.line - 1};
        if (r.piece->start == 0)
            return {};
        PiecePtr before = pieceAt(r.piece->start - 1);
        const int line = before->layout.lineCount() - 1;
        return {std::move(before), line};
    }

    void invalidate(bool pieces)
    {
        if (pieces) {
            m_cache.clear();
            m_cachedBytes = 0;
        }
        m_shown.clear();
        m_maxValid = false;
        m_shownValid = false;
    }

    void setGeometry(const QFont& font, qreal width, int height)
    {
        if (font != m_font || width != m_width) {
            m_font = font;
            m_width = width;
            invalidate(true);
        } else if (height != m_height) {
            invalidate(false);
        }
        m_height = height;
    }

    void ensure()
    {
        if (!m_maxValid) {
            // The top that shows the last line at the bottom.
            LineRef top = lineAt(size());
            qreal h = top.height();
            for (;;) {
                const LineRef up = previous(top);
                if (!up.valid() || h + up.height() > m_height - kMargin)
                    break;
                h += up.height();
                top = up;
            }
            m_max = top.start();
            m_maxValid = true;
        }
        if (!m_shownValid) {
            m_shown.clear();
            LineRef line = lineAt(std::min(m_top, m_max));
            m_top = line.start();
            for (qreal y = kMargin; line.valid() && y < m_height; line = next(line)) {
                m_shown.push_back({line, y});
                y += line.height();
            }
            m_shownValid = true;
            if (m_cache.size() > kMaxCachedPieces || m_cachedBytes > kMaxCachedBytes) {
                m_cache.clear();
                m_cachedBytes = 0;
                for (const Shown& s : m_shown) {
                    const Piece& piece = *s.line.piece;
                    if (m_cache.emplace(piece.start, s.line.piece).second)
                        m_cachedBytes += piece.end - piece.start;
                }
            }
        }
    }

    // The entry of the line holding `pos`, or null when it is not on screen.
    const Shown* shownLine(qint64 pos)
    {
        ensure();
        const LineRef r = lineAt(pos);
        for (const Shown& s : m_shown) {
            if (s.line.piece->start == r.piece->start && s.line.line == r.line)
                return &s;
        }
        return nullptr;
    }

    const QByteArray& m_text;
    QFont m_font;
    qreal m_width = -1;
    int m_height = 0;
    std::unordered_map<qint64, PiecePtr> m_cache;
    qint64 m_cachedBytes = 0;
    std::vector<Shown> m_shown;
    qint64 m_top = 0;
    qint64 m_max = 0;
    int m_barShift = 0;
    bool m_maxValid = false;
    bool m_shownValid = false;
};

// Checkpoints every 64 KB or so: the character offset of a character start.
// Made as far as a query reaches; a new text starts them again.
struct LargeTextView::CharacterIndex
{
    explicit CharacterIndex(const QByteArray& text) : m_text(text) {}

    const uchar* data() const { return reinterpret_cast<const uchar*>(m_text.constData()); }
    qint64 size() const { return m_text.size(); }

    void extend()
    {
        auto [byte, unit] = m_points.back();
        walkToByte(data(), size(), byte, unit, byte + kCheckpointBytes);
        m_points.push_back({byte, unit});
        if (byte >= size())
            m_total = unit;
    }
    bool complete() const { return m_total >= 0; }

    qint64 total()
    {
        while (!complete())
            extend();
        return m_total;
    }

    // `byte` is a character start.
    qint64 unitOf(qint64 byte)
    {
        while (!complete() && m_points.back().first < byte)
            extend();
        auto it = std::upper_bound(
            m_points.begin(), m_points.end(), byte,
            [](qint64 b, const std::pair<qint64, qint64>& p) { return b < p.first; });
        auto [at, unit] = *std::prev(it);
        walkToByte(data(), size(), at, unit, byte);
        return unit;
    }

    qint64 byteOf(qint64 unit)
    {
        while (!complete() && m_points.back().second <= unit)
            extend();
        auto it = std::upper_bound(
            m_points.begin(), m_points.end(), unit,
            [](qint64 u, const std::pair<qint64, qint64>& p) { return u < p.second; });
        auto [byte, at] = *std::prev(it);
        walkToUnit(data(), size(), byte, at, unit);
        return byte;
    }

    const QByteArray& m_text;
    std::vector<std::pair<qint64, qint64>> m_points{{0, 0}};
    qint64 m_total = -1;
};

namespace {

// What a screen reader is given for the view: a read-only multi-line text.
class LargeTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit LargeTextAccessible(LargeTextView* view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    {
    }

    LargeTextView* view() const { return static_cast<LargeTextView*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    void selection(int index, int* start, int* end) const override
    {
        *start = *end = 0;
        if (index == 0 && view()->hasSelection()) {
            *start = unit(view()->selectionStart());
            *end = unit(view()->selectionEnd());
        }
    }
    int selectionCount() const override { return view()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            view()->setSelection(view()->cursorPosition(), view()->cursorPosition());
    }
    void setSelection(int, int start, int end) override
    {
        view()->setSelection(byte(start), byte(end));
    }
    int cursorPosition() const override { return unit(view()->cursorPosition()); }
    void setCursorPosition(int position) override
    {
        const qint64 at = byte(position);
        view()->setSelection(at, at);
    }

    QString text(QAccessible::Text t) const override { return QAccessibleWidget::text(t); }
    QString text(int start, int end) const override
    {
        return view()->characters(byte(start), byte(end));
    }
    int characterCount() const override { return int(view()->characterCount()); }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                             int* end) const override
    {
        segment(offset, type, start, end);
        if (*start <= 0) {
            *start = *end = 0;
            return QString();
        }
        segment(*start - 1, type, start, end);
        return text(*start, *end);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                         int* end) const override
    {
        segment(offset, type, start, end);
        return text(*start, *end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                            int* end) const override
    {
        segment(offset, type, start, end);
        if (*end >= characterCount() || *end <= offset) {
            *start = *end = characterCount();
            return QString();
        }
        segment(*end, type, start, end);
        return text(*start, *end);
    }

    QRect characterRect(int offset) const override
    {
        const qint64 at = byte(offset);
        const QRect caret = view()->cursorRect(at);
        if (!caret.isValid())
            return QRect();
        const QRect next = view()->cursorRect(byte(offset + 1));
        const int width = next.isValid() && next.top() == caret.top()
                              ? std::max(1, next.left() - caret.left())
                              : caret.width();
        const QPoint topLeft = view()->viewport()->mapToGlobal(caret.topLeft());
        return QRect(topLeft, QSize(width, caret.height()));
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        const QPoint local = view()->viewport()->mapFromGlobal(point);
        if (!view()->viewport()->rect().contains(local))
            return -1;
        return unit(view()->positionAt(local));
    }
    void scrollToSubstring(int start, int) override { view()->ensurePositionVisible(byte(start)); }
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = offset;
        *end = offset;
        return QString();
    }

private:
    qint64 unit(qint64 position) const { return view()->characterAt(position); }
    qint64 byte(int unit) const { return view()->positionOfCharacter(std::max(0, unit)); }

    void segment(int offset, QAccessible::TextBoundaryType type, int* start, int* end) const
    {
        LargeTextView* v = view();
        offset = std::max(0, offset);
        const qint64 at = byte(offset);
        switch (type) {
        case QAccessible::CharBoundary: {
            // One character: a surrogate pair is one, as is a byte that is
            // not UTF-8.
            const QByteArray& text = v->utf8();
            *start = *end = int(unit(at));
            if (at < text.size())
                *end += characterWidth(reinterpret_cast<const uchar*>(text.constData()),
                                       text.size(), at)
                            .second;
            return;
        }
        case QAccessible::NoBoundary:
            *start = 0;
            *end = characterCount();
            return;
        default:
            break;
        }
        const auto [lineStart, lineEnd] = v->lineAround(at);
        const int first = int(unit(lineStart));
        if (type == QAccessible::LineBoundary || type == QAccessible::ParagraphBoundary) {
            *start = first;
            *end = int(unit(lineEnd));
            return;
        }
        const QString line = v->characters(lineStart, lineEnd);
        const QTextBoundaryFinder::BoundaryType kind = type == QAccessible::SentenceBoundary
                                                           ? QTextBoundaryFinder::Sentence
                                                           : QTextBoundaryFinder::Word;
        QTextBoundaryFinder finder(kind, line);
        const qsizetype local = std::clamp<qsizetype>(offset - first, 0, line.size());
        finder.setPosition(local);
        qsizetype from = finder.isAtBoundary() ? local : finder.toPreviousBoundary();
        finder.setPosition(local);
        qsizetype to = finder.toNextBoundary();
        if (from < 0)
            from = 0;
        if (to < 0)
            to = line.size();
        *start = int(first + from);
        *end = int(first + to);
    }
};

QAccessibleInterface* largeTextAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("LargeTextView") && object && object->isWidgetType())
        return new LargeTextAccessible(static_cast<LargeTextView*>(object));
    return nullptr;
}

} // namespace

LargeTextView::LargeTextView(QWidget* parent)
    : QAbstractScrollArea(parent), m_layout(std::make_unique<Layout>(m_text)),
      m_characters(std::make_unique<CharacterIndex>(m_text))
{
    static const bool accessible = [] {
        QAccessible::installFactory(&largeTextAccessible);
        return true;
    }();
    Q_UNUSED(accessible);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    m_autoScroll = new QTimer(this);
    m_autoScroll->setInterval(50);
    connect(m_autoScroll, &QTimer::timeout, this, &LargeTextView::autoScroll);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &LargeTextView::barValueChanged);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            &LargeTextView::barActionTriggered);
    // The bar counts in bytes; a wheel turned over it scrolls lines, as over
    // the text.
    verticalScrollBar()->installEventFilter(this);
}

LargeTextView::~LargeTextView() = default;

void LargeTextView::setUtf8(const QByteArray& utf8)
{
    const bool hadSelection = hasSelection();
    const QByteArray before = m_text;
    m_text = utf8;
    m_characters = std::make_unique<CharacterIndex>(m_text);
    m_anchor = m_position = 0;
    m_dragging = false;
    m_autoScroll->stop();
    m_layout->m_top = 0;
    m_layout->invalidate(true);
    viewport()->update();
    if (hadSelection)
        emit selectionChanged();
    announceNewText(before);
}

void LargeTextView::announceNewText(const QByteArray& before)
{
    if (!QAccessible::isActive())
        return;
    // A screen reader is told the old and the new text while they are small;
    // a large one it reads from the caret, as it asks.
    constexpr qint64 kTold = qint64(256) << 10;
    if (before.size() <= kTold && m_text.size() <= kTold) {
        QAccessibleTextUpdateEvent event(this, 0,
                                         decodeCharacters(before.constData(), before.size()),
                                         characters(0, m_text.size()));
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextCursorEvent event(this, 0);
        QAccessible::updateAccessibility(&event);
    }
}

qint64 LargeTextView::characterCount() const
{
    return m_characters->total();
}

qint64 LargeTextView::characterAt(qint64 position) const
{
    return m_characters->unitOf(characterStart(m_text.constData(), m_text.size(), position));
}

qint64 LargeTextView::positionOfCharacter(qint64 character) const
{
    return m_characters->byteOf(std::max<qint64>(0, character));
}

QString LargeTextView::characters(qint64 from, qint64 to) const
{
    const qint64 n = m_text.size();
    from = characterStart(m_text.constData(), n, from);
    to = characterStart(m_text.constData(), n, to);
    if (to <= from)
        return QString();
    return decodeCharacters(m_text.constData() + from, to - from);
}

std::pair<qint64, qint64> LargeTextView::lineAround(qint64 position) const
{
    const qint64 start = m_layout->pieceStartFor(m_layout->normalize(position));
    const Layout::Bounds bounds = m_layout->boundsOf(start);
    return {start, bounds.next < 0 ? m_text.size() : bounds.next};
}

void LargeTextView::setZoom(int points)
{
    // Never below 1 point, nor beyond a size no screen shows a line of.
    const qreal base = font().pointSizeF() > 0 ? font().pointSizeF() : 10;
    points = std::clamp(points, int(1 - base), int(96 - base));
    if (points == m_zoom)
        return;
    m_zoom = points;
    viewport()->update();
}

QFont LargeTextView::shownFont() const
{
    QFont shown = font();
    if (m_zoom != 0) {
        if (shown.pointSizeF() > 0)
            shown.setPointSizeF(shown.pointSizeF() + m_zoom);
        else if (shown.pixelSize() > 0)
            shown.setPixelSize(std::max(1, shown.pixelSize() + m_zoom * logicalDpiY() / 72));
    }
    return shown;
}

QVariant LargeTextView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // Where a keyboard-opened context menu (and an input method) goes: the
    // caret, or the top of the text when the caret is not on screen.
    if (query == Qt::ImCursorRectangle) {
        QRect caret = cursorRect(m_position);
        if (!caret.isValid())
            caret = QRect(kMargin, kMargin, 1, fontMetrics().height());
        return caret.translated(viewport()->geometry().topLeft());
    }
    return QAbstractScrollArea::inputMethodQuery(query);
}

void LargeTextView::setText(const QString& text)
{
    setUtf8(text.toUtf8());
}

void LargeTextView::clear()
{
    setUtf8(QByteArray());
}

QString LargeTextView::text() const
{
    return QString::fromUtf8(m_text);
}

QString LargeTextView::selectedText() const
{
    return QString::fromUtf8(m_text.constData() + selectionStart(),
                             selectionEnd() - selectionStart());
}

void LargeTextView::setSelection(qint64 anchor, qint64 position)
{
    select(m_layout->normalize(anchor), m_layout->normalize(position));
}

void LargeTextView::select(qint64 anchor, qint64 position)
{
    if (anchor == m_anchor && position == m_position)
        return;
    const bool visibleChange = hasSelection() || anchor != position;
    m_anchor = anchor;
    m_position = position;
    if (visibleChange) {
        viewport()->update();
        emit selectionChanged();
    }
    if (QAccessible::isActive()) {
        QAccessibleTextSelectionEvent event(this, int(characterAt(selectionStart())),
                                            int(characterAt(selectionEnd())));
        event.setCursorPosition(int(characterAt(m_position)));
        QAccessible::updateAccessibility(&event);
    }
}

void LargeTextView::selectLineAt(qint64 position)
{
    // The whole line between line ends, with its own line end, as text edits
    // select it.
    const char* d = m_text.constData();
    const qint64 n = m_text.size();
    position = m_layout->normalize(position);
    const qint64 before = findLineEndBack(d, 0, position);
    const qint64 start = before < 0 ? 0 : before + 1;
    const qint64 lineEnd = findLineEnd(d, position, n);
    qint64 end = n;
    if (lineEnd >= 0)
        end = lineEnd + (d[lineEnd] == '\r' && lineEnd + 1 < n && d[lineEnd + 1] == '\n' ? 2 : 1);
    select(start, end);
}

void LargeTextView::selectAll()
{
    select(0, m_text.size());
}

void LargeTextView::copy() const
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

bool LargeTextView::find(const QString& text, QTextDocument::FindFlags flags)
{
    if (text.isEmpty())
        return false;
    Searcher searcher(m_text, text, flags.testFlag(QTextDocument::FindCaseSensitively));
    const std::optional<Match> match = flags.testFlag(QTextDocument::FindBackward)
                                           ? searcher.backward(selectionStart())
                                           : searcher.forward(selectionEnd());
    if (!match)
        return false;
    select(match->start, match->end);
    ensurePositionVisible(match->start);
    return true;
}

qint64 LargeTextView::topPosition() const
{
    relayoutIfNeeded();
    return m_layout->m_top;
}

void LargeTextView::scrollToPosition(qint64 position)
{
    relayoutIfNeeded();
    setTop(m_layout->lineAt(position).start());
}

bool LargeTextView::isPositionVisible(qint64 position) const
{
    relayoutIfNeeded();
    const Layout::Shown* s = m_layout->shownLine(position);
    return s && s->y + s->line.height() <= viewport()->height();
}

void LargeTextView::ensurePositionVisible(qint64 position)
{
    if (isPositionVisible(position))
        return;
    // A third of the way down, so that what comes before is seen as well.
    LineRef line = m_layout->lineAt(position);
    for (qreal h = line.height(); h < viewport()->height() / 3.0;) {
        const LineRef up = m_layout->previous(line);
        if (!up.valid())
            break;
        h += up.height();
        line = up;
    }
    setTop(line.start());
}

QRect LargeTextView::cursorRect(qint64 position) const
{
    relayoutIfNeeded();
    position = m_layout->normalize(position);
    const Layout::Shown* s = m_layout->shownLine(position);
    if (!s)
        return QRect();
    const QTextLine line = s->line.textLine();
    const qreal x = line.cursorToX(s->line.piece->unitOf(position));
    return QRectF(kMargin + x, s->y, 1, line.height()).toAlignedRect();
}

qint64 LargeTextView::positionAt(const QPoint& point) const
{
    relayoutIfNeeded();
    const std::vector<Layout::Shown>& shown = m_layout->m_shown;
    if (shown.empty())
        return 0;
    const Layout::Shown* hit = &shown.back();
    for (const Layout::Shown& s : shown) {
        if (point.y() < s.y + s.line.height()) {
            hit = &s;
            break;
        }
    }
    const int unit = hit->line.textLine().xToCursor(point.x() - kMargin);
    return hit->line.piece->posOf(unit);
}

QMenu* LargeTextView::createContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    QAction* copyAction = menu->addAction(QStringLiteral("复制(&C)"), this, &LargeTextView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(hasSelection());
    QAction* all = menu->addAction(QStringLiteral("全选(&A)"), this, &LargeTextView::selectAll);
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(!m_text.isEmpty());
    return menu;
}

void LargeTextView::layoutIfNeeded() const
{
    m_layout->setGeometry(shownFont(), viewport()->width() - 2 * kMargin, viewport()->height());
    m_layout->ensure();
}

void LargeTextView::relayoutIfNeeded() const
{
    layoutIfNeeded();
    syncScrollBar();
}

void LargeTextView::setTop(qint64 top)
{
    relayoutIfNeeded();
    top = std::clamp<qint64>(top, 0, m_layout->m_max);
    if (top != m_layout->m_top) {
        m_layout->m_top = top;
        m_layout->m_shownValid = false;
        viewport()->update();
    }
    relayoutIfNeeded();
}

void LargeTextView::scrollLines(int lines)
{
    relayoutIfNeeded();
    LineRef line = m_layout->lineAt(m_layout->m_top);
    for (; lines > 0; --lines) {
        const LineRef down = m_layout->next(line);
        if (!down.valid() || line.start() >= m_layout->m_max)
            break;
        line = down;
    }
    for (; lines < 0; ++lines) {
        const LineRef up = m_layout->previous(line);
        if (!up.valid())
            break;
        line = up;
    }
    setTop(line.start());
}

void LargeTextView::scrollPage(int direction)
{
    relayoutIfNeeded();
    const int height = viewport()->height();
    const std::vector<Layout::Shown>& shown = m_layout->m_shown;
    if (shown.empty())
        return; // no line fits: there is no page to move by
    if (direction > 0) {
        // The first line not wholly shown comes to the top.
        qint64 top = m_layout->m_max;
        for (const Layout::Shown& s : shown) {
            if (s.y + s.line.height() > height) {
                top = s.line.start();
                break;
            }
        }
        if (!shown.empty() && shown.back().y + shown.back().line.height() <= height) {
            const LineRef after = m_layout->next(shown.back().line);
            if (after.valid())
                top = after.start();
        }
        if (std::min(top, m_layout->m_max) <= m_layout->m_top)
            scrollLines(1);
        else
            setTop(top);
        return;
    }
    LineRef line = m_layout->lineAt(m_layout->m_top);
    qreal h = 0;
    for (;;) {
        const LineRef up = m_layout->previous(line);
        if (!up.valid() || (h > 0 && h + up.height() > height - kMargin))
            break;
        h += up.height();
        line = up;
    }
    setTop(line.start());
}

void LargeTextView::syncScrollBar() const
{
    if (m_syncingBar)
        return;
    m_syncingBar = true;
    Layout& l = *m_layout;
    l.m_barShift = 0;
    while ((l.m_max >> l.m_barShift) > (qint64(1) << 30))
        ++l.m_barShift;
    qint64 page = 1;
    if (!l.m_shown.empty())
        page = std::max<qint64>(1, l.m_shown.back().line.end() - l.m_top);
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, int(l.m_max >> l.m_barShift));
    bar->setPageStep(int(std::max<qint64>(1, page >> l.m_barShift)));
    // While the thumb is dragged it stays where the mouse put it; the top is
    // the start of the line there.
    if (!bar->isSliderDown())
        bar->setValue(int(l.m_top >> l.m_barShift));
    m_syncingBar = false;
}

void LargeTextView::barValueChanged(int value)
{
    if (m_syncingBar)
        return;
    // Not synced before the new top is set: that would put the bar back.
    layoutIfNeeded();
    // Dragging maps the bar linearly onto the text; its end is the last line.
    const qint64 target = value >= verticalScrollBar()->maximum()
                              ? m_layout->m_max
                              : qint64(value) << m_layout->m_barShift;
    m_layout->m_top = std::min(m_layout->lineAt(target).start(), m_layout->m_max);
    m_layout->m_shownValid = false;
    relayoutIfNeeded();
    viewport()->update();
}

void LargeTextView::barActionTriggered(int action)
{
    // Steps of the bar's arrows and trough move by lines, as the keys do;
    // setting the bar to the new top replaces the value it chose itself.
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        scrollLines(1);
        break;
    case QAbstractSlider::SliderSingleStepSub:
        scrollLines(-1);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        scrollPage(1);
        break;
    case QAbstractSlider::SliderPageStepSub:
        scrollPage(-1);
        break;
    default:
        break;
    }
}

void LargeTextView::scrollContentsBy(int, int)
{
    // The bar's value is followed in barValueChanged; nothing to move here.
}

void LargeTextView::paintEvent(QPaintEvent* event)
{
    relayoutIfNeeded();
    QPainter painter(viewport());
    // QTextLayout draws the line above a clip band as well; the top line's
    // predecessor must not show in the margin.
    painter.setClipRect(QRect(0, kMargin, viewport()->width(), viewport()->height()));
    const QPalette& pal = palette();
    painter.setPen(pal.color(QPalette::Text));
    // The selection keeps the active colours when the focus goes elsewhere.
    QTextLayout::FormatRange selection;
    selection.format.setBackground(pal.brush(QPalette::Active, QPalette::Highlight));
    selection.format.setForeground(pal.brush(QPalette::Active, QPalette::HighlightedText));
    // Caret notation in a colour halfway to the background, so that it is
    // not taken for the text "^@".
    QTextLayout::FormatRange control;
    control.length = 2;
    const QColor text = pal.color(QPalette::Text);
    const QColor base = pal.color(QPalette::Base);
    control.format.setForeground(QColor((text.red() + base.red()) / 2,
                                        (text.green() + base.green()) / 2,
                                        (text.blue() + base.blue()) / 2));
    const qreal width = viewport()->width();
    const std::vector<Layout::Shown>& shown = m_layout->m_shown;
    for (size_t i = 0; i < shown.size();) {
        const Layout::Shown& first = shown[i];
        const Piece& piece = *first.line.piece;
        size_t j = i;
        qreal bottom = first.y;
        for (; j < shown.size() && shown[j].line.piece.get() == &piece; ++j)
            bottom = shown[j].y + shown[j].line.height();
        QList<QTextLayout::FormatRange> selections;
        for (int at : piece.controls) {
            control.start = at;
            selections.append(control);
        }
        const qint64 from = std::max(selectionStart(), piece.start);
        const qint64 to = std::min(selectionEnd(), piece.end);
        if (from < to) {
            selection.start = piece.unitOf(from);
            selection.length = piece.unitOf(to) - selection.start;
            selections.append(selection);
        }
        const QRectF band(0, first.y, width, bottom - first.y);
        if (band.intersects(event->rect())) {
            const QPointF origin(kMargin, first.y - first.line.textLine().y());
            piece.layout.draw(&painter, origin, selections, band);
        }
        i = j;
    }
}

void LargeTextView::resizeEvent(QResizeEvent* event)
{
    // Laid out again at the next paint (or query), once the viewport has
    // its new size too.
    QAbstractScrollArea::resizeEvent(event);
    viewport()->update();
}

bool LargeTextView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == verticalScrollBar() && event->type() == QEvent::Wheel) {
        wheelEvent(static_cast<QWheelEvent*>(event));
        return true;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

bool LargeTextView::event(QEvent* event)
{
    // The keys the view handles itself win over shortcuts of the window.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        const bool navigation = (modifiers & ~Qt::ControlModifier) == Qt::NoModifier &&
                                (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down ||
                                 key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown ||
                                 key->key() == Qt::Key_Home || key->key() == Qt::Key_End);
        if (navigation || key->matches(QKeySequence::Copy) ||
            key->matches(QKeySequence::SelectAll) || zoomStep(key) != 0 || isZoomReset(key)) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void LargeTextView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        viewport()->update();
}

void LargeTextView::keyPressEvent(QKeyEvent* event)
{
    if (const int step = zoomStep(event)) {
        setZoom(m_zoom + step);
        return;
    }
    if (isZoomReset(event)) {
        setZoom(0);
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool plain = (modifiers & ~Qt::ControlModifier) == Qt::NoModifier;
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (plain) {
            scrollLines(event->key() == Qt::Key_Up ? -1 : 1);
            return;
        }
        break;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (plain) {
            scrollPage(event->key() == Qt::Key_PageUp ? -1 : 1);
            return;
        }
        break;
    case Qt::Key_Space:
        if (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier) {
            scrollPage(modifiers == Qt::ShiftModifier ? -1 : 1);
            return;
        }
        break;
    case Qt::Key_Home:
        if (plain) {
            setTop(0);
            return;
        }
        break;
    case Qt::Key_End:
        if (plain) {
            relayoutIfNeeded();
            setTop(m_layout->m_max);
            return;
        }
        break;
    default:
        break;
    }
    event->ignore();
}

void LargeTextView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint point = event->position().toPoint();
    const bool triple =
        m_afterDoubleClick &&
        event->timestamp() - m_doubleClickTime <= quint64(QApplication::doubleClickInterval()) &&
        (point - m_doubleClickPoint).manhattanLength() <= QApplication::startDragDistance();
    m_afterDoubleClick = false;
    if (triple) {
        m_dragging = false;
        selectLineAt(positionAt(point));
        return;
    }
    const qint64 at = positionAt(point);
    select(event->modifiers() & Qt::ShiftModifier ? m_anchor : at, at);
    m_dragging = true;
    m_dragPoint = event->position().toPoint();
}

void LargeTextView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    m_dragPoint = event->position().toPoint();
    const bool outside = m_dragPoint.y() < 0 || m_dragPoint.y() >= viewport()->height();
    if (outside && !m_autoScroll->isActive())
        m_autoScroll->start();
    else if (!outside)
        m_autoScroll->stop();
    select(m_anchor, positionAt(m_dragPoint));
}

void LargeTextView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    m_autoScroll->stop();
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void LargeTextView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    m_afterDoubleClick = true;
    m_doubleClickTime = event->timestamp();
    m_doubleClickPoint = event->position().toPoint();
    const qint64 at = positionAt(event->position().toPoint());
    const PiecePtr piece = m_layout->pieceAt(at);
    const int unit = piece->unitOf(at);
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, piece->text);
    words.setPosition(unit);
    qsizetype end = words.toNextBoundary();
    words.setPosition(unit);
    qsizetype start = words.isAtBoundary() ? unit : words.toPreviousBoundary();
    if (end < 0 || end == start) {
        // After the last character of a line: the word before it.
        end = unit;
        words.setPosition(unit);
        start = std::max<qsizetype>(0, words.toPreviousBoundary());
    }
    select(piece->posOf(int(start)), piece->posOf(int(end)));
}

void LargeTextView::autoScroll()
{
    if (!m_dragging) {
        m_autoScroll->stop();
        return;
    }
    // Faster the farther the pointer is from the view.
    const int y = m_dragPoint.y();
    const int height = viewport()->height();
    scrollLines(y < 0 ? -(1 + -y / 20) : 1 + (y - height) / 20);
    select(m_anchor, positionAt(m_dragPoint));
}

void LargeTextView::wheelEvent(QWheelEvent* event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl and the wheel: larger away from the user, as text views do.
        m_zoomWheelRest += event->angleDelta().y();
        const int steps = m_zoomWheelRest / 120;
        m_zoomWheelRest -= steps * 120;
        if (steps != 0)
            setZoom(m_zoom + steps);
        event->accept();
        return;
    }
    m_wheelRest += event->angleDelta().y();
    const int steps = m_wheelRest / 120;
    m_wheelRest -= steps * 120;
    if (steps != 0)
        scrollLines(-steps * QApplication::wheelScrollLines());
    event->accept();
}

void LargeTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    emit contextMenuAboutToShow(menu);
    menu->popup(event->globalPos());
}
