#include "results/HtmlToText.h"

#include "util/AnsiCodec.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

namespace {

// How an element takes part in the text, after the default style sheet of a
// browser (there is no CSS engine here: only the defaults, the hidden
// attribute and an inline "display:none" are honoured).
enum Role : unsigned char
{
    Inline = 0,
    Block,     // a line of its own
    Paragraph, // a blank line before and after
    Row,       // table row: rows are separated by line breaks
    Cell,      // table cell: cells are separated by tabs
    Table,
    LineBreak,
    Preformatted, // block whose white space is kept
    Skipped,      // not rendered, nor anything inside
    Details,      // only its summary shows unless it is open
};

std::array<Role, GUMBO_TAG_LAST + 1> makeRoles()
{
    std::array<Role, GUMBO_TAG_LAST + 1> r{};
    for (GumboTag t :
         {GUMBO_TAG_HTML,     GUMBO_TAG_BODY,       GUMBO_TAG_ARTICLE,  GUMBO_TAG_SECTION,
          GUMBO_TAG_NAV,      GUMBO_TAG_ASIDE,      GUMBO_TAG_H1,       GUMBO_TAG_H2,
          GUMBO_TAG_H3,       GUMBO_TAG_H4,         GUMBO_TAG_H5,       GUMBO_TAG_H6,
          GUMBO_TAG_HGROUP,   GUMBO_TAG_HEADER,     GUMBO_TAG_FOOTER,   GUMBO_TAG_ADDRESS,
          GUMBO_TAG_HR,       GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_OL,       GUMBO_TAG_UL,
          GUMBO_TAG_LI,       GUMBO_TAG_DL,         GUMBO_TAG_DT,       GUMBO_TAG_DD,
          GUMBO_TAG_FIGURE,   GUMBO_TAG_FIGCAPTION, GUMBO_TAG_MAIN,     GUMBO_TAG_DIV,
          GUMBO_TAG_CAPTION,  GUMBO_TAG_FORM,       GUMBO_TAG_FIELDSET, GUMBO_TAG_LEGEND,
          GUMBO_TAG_OPTGROUP, GUMBO_TAG_OPTION,     GUMBO_TAG_SUMMARY,  GUMBO_TAG_MENU,
          GUMBO_TAG_DIR,      GUMBO_TAG_FRAMESET,   GUMBO_TAG_CENTER,   GUMBO_TAG_MULTICOL})
        r[t] = Block;
    for (GumboTag t :
         {GUMBO_TAG_PRE, GUMBO_TAG_LISTING, GUMBO_TAG_XMP, GUMBO_TAG_PLAINTEXT, GUMBO_TAG_TEXTAREA})
        r[t] = Preformatted;
    // Not rendered by default, or fallback content a browser does not show.
    for (GumboTag t : {GUMBO_TAG_HEAD,     GUMBO_TAG_TITLE,   GUMBO_TAG_BASE,    GUMBO_TAG_LINK,
                       GUMBO_TAG_META,     GUMBO_TAG_STYLE,   GUMBO_TAG_SCRIPT,  GUMBO_TAG_NOSCRIPT,
                       GUMBO_TAG_TEMPLATE, GUMBO_TAG_RP,      GUMBO_TAG_IFRAME,  GUMBO_TAG_EMBED,
                       GUMBO_TAG_PARAM,    GUMBO_TAG_VIDEO,   GUMBO_TAG_AUDIO,   GUMBO_TAG_SOURCE,
                       GUMBO_TAG_TRACK,    GUMBO_TAG_CANVAS,  GUMBO_TAG_AREA,    GUMBO_TAG_DATALIST,
                       GUMBO_TAG_NOFRAMES, GUMBO_TAG_NOEMBED, GUMBO_TAG_BGSOUND, GUMBO_TAG_FRAME,
                       GUMBO_TAG_COLGROUP, GUMBO_TAG_COL,     GUMBO_TAG_APPLET})
        r[t] = Skipped;
    r[GUMBO_TAG_P] = Paragraph;
    r[GUMBO_TAG_TR] = Row;
    r[GUMBO_TAG_TD] = Cell;
    r[GUMBO_TAG_TH] = Cell;
    r[GUMBO_TAG_TABLE] = Table;
    r[GUMBO_TAG_BR] = LineBreak;
    r[GUMBO_TAG_DETAILS] = Details;
    return r;
}

const std::array<Role, GUMBO_TAG_LAST + 1> kRoles = makeRoles();

bool isCollapsible(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// An inline style that hides the element ("display : none", any case).
bool styleHides(const char* style)
{
    static const char kProperty[] = "display";
    for (const char* p = style; *p; ++p) {
        if (strncasecmp(p, kProperty, sizeof kProperty - 1) != 0)
            continue;
        // Only a whole property name counts ("table-display" does not).
        if (p != style && (std::isalnum(static_cast<unsigned char>(p[-1])) || p[-1] == '-'))
            continue;
        const char* q = p + sizeof kProperty - 1;
        while (isCollapsible(static_cast<unsigned char>(*q)))
            ++q;
        if (*q != ':')
            continue;
        ++q;
        while (isCollapsible(static_cast<unsigned char>(*q)))
            ++q;
        if (strncasecmp(q, "none", 4) == 0 && !std::isalnum(static_cast<unsigned char>(q[4])) &&
            q[4] != '-')
            return true;
    }
    return false;
}

bool isHidden(const GumboElement& e)
{
    if (e.attributes.length == 0)
        return false;
    if (gumbo_get_attribute(&e.attributes, "hidden"))
        return true;
    const GumboAttribute* style = gumbo_get_attribute(&e.attributes, "style");
    return style && styleHides(style->value);
}

// Collects the text as a list of strings and "required line breaks" that
// merge with their neighbours, the way innerText does: breaks at either end
// vanish, a run of breaks becomes as many line feeds as the largest asks.
class TextBuilder
{
public:
    explicit TextBuilder(qsizetype expected) { m_out.reserve(expected); }

    void requireBreaks(int count)
    {
        m_pendingBreaks = std::max(m_pendingBreaks, count);
        m_pendingSpace = false;
    }

    void literal(const char* data, size_t size)
    {
        if (size == 0)
            return;
        flushBreaks();
        appendKeepingSpaces(data, size);
        m_lineHasText = data[size - 1] != '\n';
        m_pendingSpace = false;
    }

    // A cell starts or ends: blanks at its edges are not rendered.
    void boxEdge()
    {
        m_pendingSpace = false;
        m_lineHasText = false;
    }

    void collapsed(const char* data, size_t size)
    {
        const char* p = data;
        const char* end = data + size;
        while (p < end) {
            if (isCollapsible(static_cast<unsigned char>(*p))) {
                m_pendingSpace = true;
                ++p;
                continue;
            }
            const char* run = p;
            while (p < end && !isCollapsible(static_cast<unsigned char>(*p)))
                ++p;
            flushBreaks();
            if (m_pendingSpace && m_lineHasText)
                m_out.push_back(' ');
            m_pendingSpace = false;
            appendKeepingSpaces(run, size_t(p - run));
            m_lineHasText = true;
        }
    }

    QByteArray take() { return std::move(m_out); }

private:
    void flushBreaks()
    {
        if (m_pendingBreaks > 0) {
            if (!m_out.isEmpty())
                m_out.append(qsizetype(m_pendingBreaks), '\n');
            m_pendingBreaks = 0;
            m_lineHasText = false;
            m_pendingSpace = false;
        }
    }

    // A no-break space (U+00A0, C2 A0 in UTF-8) has no place in code page
    // 936 and shows as a plain blank.
    void appendKeepingSpaces(const char* data, size_t size)
    {
        const char* end = data + size;
        const char* p = data;
        while (p < end) {
            const void* hit = std::memchr(p, '\xC2', size_t(end - p));
            if (!hit) {
                m_out.append(p, qsizetype(end - p));
                return;
            }
            const char* c2 = static_cast<const char*>(hit);
            m_out.append(p, qsizetype(c2 - p));
            if (c2 + 1 < end && static_cast<unsigned char>(c2[1]) == 0xA0) {
                m_out.push_back(' ');
                p = c2 + 2;
            } else {
                m_out.push_back(*c2);
                p = c2 + 1;
            }
        }
    }

    QByteArray m_out;
    int m_pendingBreaks = 0;
    bool m_pendingSpace = false;
    bool m_lineHasText = false;
};

// All memory of one parse comes from here and goes at once: gumbo's own
// clean-up recurses once per nesting level and overflows the stack on a page
// nested a few hundred thousand elements deep. A few blocks are kept for the
// next parse, as faulting in fresh memory costs a third of the parse itself.
class Arena
{
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena()
    {
        std::vector<Block>& spare = spareBlocks();
        for (Block& b : m_blocks) {
            if (b.size == kBlock && spare.size() < kSpareBlocks)
                spare.push_back(std::move(b));
        }
    }

    static void* allocate(void* self, size_t size) { return static_cast<Arena*>(self)->take(size); }
    static void deallocate(void* self, void* p) { static_cast<Arena*>(self)->giveBack(p); }

private:
    struct Block
    {
        std::unique_ptr<char[]> data;
        size_t size;
    };

    static std::vector<Block>& spareBlocks()
    {
        thread_local std::vector<Block> spare;
        return spare;
    }

    void* take(size_t size)
    {
        size = (size + 15) & ~size_t(15);
        if (size > m_left) {
            std::vector<Block>& spare = spareBlocks();
            if (size <= kBlock && !spare.empty()) {
                m_blocks.push_back(std::move(spare.back()));
                spare.pop_back();
            } else {
                const size_t bytes = std::max(size, kBlock);
                m_blocks.push_back(Block{std::unique_ptr<char[]>(new char[bytes]), bytes});
            }
            m_top = m_blocks.back().data.get();
            m_left = m_blocks.back().size;
        }
        char* p = m_top;
        m_last = p;
        m_top += size;
        m_left -= size;
        return p;
    }

    void giveBack(void* p)
    {
        if (p && p == m_last) {
            m_left += size_t(m_top - m_last);
            m_top = m_last;
            m_last = nullptr;
        }
    }

    static constexpr size_t kBlock = size_t(1) << 20;
    static constexpr size_t kSpareBlocks = 24; // enough for a page of about 2 MB
    std::vector<Block> m_blocks;
    char* m_top = nullptr;
    char* m_last = nullptr;
    size_t m_left = 0;
};

const GumboNode* findBody(const GumboNode* root)
{
    if (!root || root->type != GUMBO_NODE_ELEMENT)
        return nullptr;
    const GumboVector& children = root->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* child = static_cast<const GumboNode*>(children.data[i]);
        if (child->type == GUMBO_NODE_ELEMENT &&
            (child->v.element.tag == GUMBO_TAG_BODY || child->v.element.tag == GUMBO_TAG_FRAMESET))
            return child;
    }
    return nullptr;
}

// Walks the tree without recursion: nesting depth is the page's to choose.
class Walker
{
public:
    explicit Walker(TextBuilder& out) : m_out(out) {}

    void run(const GumboNode* top)
    {
        if (!top)
            return;
        enter(top);
        while (!m_stack.empty()) {
            Frame& f = m_stack.back();
            const GumboVector& children = f.node->v.element.children;
            if (f.next < children.length) {
                const auto* child = static_cast<const GumboNode*>(children.data[f.next++]);
                if (f.summaryOnly && !isSummary(child))
                    continue;
                visit(child);
            } else {
                leave(f);
                m_stack.pop_back();
            }
        }
    }

private:
    struct Frame
    {
        const GumboNode* node;
        unsigned next;
        Role role;
        bool summaryOnly;
    };

    static bool isSummary(const GumboNode* n)
    {
        return n->type == GUMBO_NODE_ELEMENT && n->v.element.tag == GUMBO_TAG_SUMMARY;
    }

    void visit(const GumboNode* n)
    {
        switch (n->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_CDATA:
            text(n->v.text.text);
            break;
        case GUMBO_NODE_WHITESPACE:
            if (!m_stack.empty() && insideTableStructure())
                break; // blanks between rows and cells are not rendered
            text(n->v.text.text);
            break;
        case GUMBO_NODE_ELEMENT:
            enter(n);
            break;
        default: // comments, templates
            break;
        }
    }

    bool insideTableStructure() const
    {
        switch (m_stack.back().node->v.element.tag) {
        case GUMBO_TAG_TABLE:
        case GUMBO_TAG_TBODY:
        case GUMBO_TAG_THEAD:
        case GUMBO_TAG_TFOOT:
        case GUMBO_TAG_TR:
            return true;
        default:
            return false;
        }
    }

    void text(const char* s)
    {
        const size_t size = std::strlen(s);
        if (m_preDepth > 0)
            m_out.literal(s, size);
        else
            m_out.collapsed(s, size);
    }

    void enter(const GumboNode* n)
    {
        const GumboElement& e = n->v.element;
        Role role = kRoles[e.tag];
        if (role == Skipped || isHidden(e))
            return;
        // Foreign content (SVG, MathML) has no blocks of its own here.
        if (e.tag_namespace != GUMBO_NAMESPACE_HTML && role != Inline)
            role = Inline;

        bool summaryOnly = false;
        switch (role) {
        case Block:
            m_out.requireBreaks(1);
            break;
        case Paragraph:
            m_out.requireBreaks(2);
            break;
        case Preformatted:
            m_out.requireBreaks(1);
            ++m_preDepth;
            break;
        case Table:
            m_out.requireBreaks(1);
            m_rowCounts.push_back(0);
            break;
        case Row:
            if (m_rowCounts.empty()) {
                m_out.requireBreaks(1);
            } else if (m_rowCounts.back()++ > 0) {
                m_out.literal("\n", 1);
            }
            m_cellCounts.push_back(0);
            break;
        case Cell:
            if (!m_cellCounts.empty() && m_cellCounts.back()++ > 0)
                m_out.literal("\t", 1);
            m_out.boxEdge();
            break;
        case LineBreak:
            m_out.literal("\n", 1);
            return;
        case Details:
            m_out.requireBreaks(1);
            summaryOnly = !gumbo_get_attribute(&e.attributes, "open");
            break;
        default:
            break;
        }
        if (e.children.length == 0) {
            Frame f{n, 0, role, summaryOnly};
            leave(f);
            return;
        }
        m_stack.push_back(Frame{n, 0, role, summaryOnly});
    }

    void leave(const Frame& f)
    {
        switch (f.role) {
        case Block:
        case Details:
            m_out.requireBreaks(1);
            break;
        case Paragraph:
            m_out.requireBreaks(2);
            break;
        case Preformatted:
            --m_preDepth;
            m_out.requireBreaks(1);
            break;
        case Table:
            m_rowCounts.pop_back();
            m_out.requireBreaks(1);
            break;
        case Row:
            m_cellCounts.pop_back();
            if (m_rowCounts.empty())
                m_out.requireBreaks(1);
            break;
        case Cell:
            m_out.boxEdge();
            break;
        default:
            break;
        }
    }

    TextBuilder& m_out;
    std::vector<Frame> m_stack;
    std::vector<int> m_rowCounts;  // per open table
    std::vector<int> m_cellCounts; // per open row
    int m_preDepth = 0;
};

} // namespace

QByteArray HtmlToTextUtf8(const QByteArray& utf8Html)
{
    if (utf8Html.isEmpty())
        return {};
    Arena arena;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Arena::allocate;
    options.deallocator = &Arena::deallocate;
    options.userdata = &arena;
    options.max_errors = 0; // parse errors are of no use here and cost memory
    const GumboOutput* output =
        gumbo_parse_with_options(&options, utf8Html.constData(), size_t(utf8Html.size()));
    TextBuilder builder(utf8Html.size() / 2);
    Walker(builder).run(findBody(output->root));
    return builder.take();
}

QByteArray HtmlToText(const QByteArray& html)
{
    if (html.isEmpty())
        return {};
    return AnsiCodec::utf8ToAnsi(HtmlToTextUtf8(AnsiCodec::toUnicode(html).toUtf8()));
}
