#include "results/HtmlToText.h"

#include "results/GumboArena.h"
#include "util/AnsiCodec.h"
#include "util/Utf8Sequence.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// How an element's box takes part in the text, after the default style sheet
// of a browser, the hidden attribute and the element's style attribute (no
// style sheets are read).
enum class Display : unsigned char
{
    None,
    Inline,
    Block,
    InlineBlock, // inline on the outside, blanks beside it kept; content walked
    Table,
    InlineTable,
    RowGroup,
    Row,
    Cell,
};

enum class WhiteSpace : unsigned char
{
    Collapse, // normal, nowrap
    Preserve, // pre, pre-wrap, break-spaces
    PreLine,
};

// What an element is besides its display.
enum Trait : unsigned char
{
    Replaced = 1,        // shows none of its content (images, form controls)
    Pre = 2,             // white space kept by default
    Paragraph = 4,       // a blank line before and after, whatever its display
    OptionsOnly = 8,     // only option and optgroup children render (select, optgroup)
    SummaryOnly = 16,    // only the summary shows unless open (details)
    FirstChildOnly = 32, // only the first child element renders (svg switch)
    SvgGroup = 64,       // an svg container: its display is not its text's
};

struct TagDefault
{
    Display display = Display::Inline;
    unsigned char traits = 0;
};

std::array<TagDefault, GUMBO_TAG_LAST + 1> makeDefaults()
{
    std::array<TagDefault, GUMBO_TAG_LAST + 1> d{};
    for (GumboTag t :
         {GUMBO_TAG_HTML,     GUMBO_TAG_BODY,       GUMBO_TAG_ARTICLE,  GUMBO_TAG_SECTION,
          GUMBO_TAG_NAV,      GUMBO_TAG_ASIDE,      GUMBO_TAG_H1,       GUMBO_TAG_H2,
          GUMBO_TAG_H3,       GUMBO_TAG_H4,         GUMBO_TAG_H5,       GUMBO_TAG_H6,
          GUMBO_TAG_HGROUP,   GUMBO_TAG_HEADER,     GUMBO_TAG_FOOTER,   GUMBO_TAG_ADDRESS,
          GUMBO_TAG_HR,       GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_OL,       GUMBO_TAG_UL,
          GUMBO_TAG_LI,       GUMBO_TAG_DL,         GUMBO_TAG_DT,       GUMBO_TAG_DD,
          GUMBO_TAG_FIGURE,   GUMBO_TAG_FIGCAPTION, GUMBO_TAG_MAIN,     GUMBO_TAG_DIV,
          GUMBO_TAG_CAPTION,  GUMBO_TAG_FORM,       GUMBO_TAG_FIELDSET, GUMBO_TAG_LEGEND,
          GUMBO_TAG_OPTION,   GUMBO_TAG_SUMMARY,    GUMBO_TAG_MENU,     GUMBO_TAG_DIR,
          GUMBO_TAG_FRAMESET, GUMBO_TAG_CENTER,     GUMBO_TAG_MULTICOL, GUMBO_TAG_P})
        d[t].display = Display::Block;
    for (GumboTag t : {GUMBO_TAG_PRE, GUMBO_TAG_LISTING, GUMBO_TAG_XMP, GUMBO_TAG_PLAINTEXT})
        d[t] = {Display::Block, Pre};
    d[GUMBO_TAG_P].traits = Paragraph;
    d[GUMBO_TAG_OPTGROUP] = {Display::Block, OptionsOnly};
    d[GUMBO_TAG_SELECT] = {Display::InlineBlock, OptionsOnly};
    d[GUMBO_TAG_BUTTON].display = Display::InlineBlock;
    d[GUMBO_TAG_DETAILS] = {Display::Block, SummaryOnly};
    // Replaced elements: a box on the line, none of their content in the text.
    for (GumboTag t : {GUMBO_TAG_IMG, GUMBO_TAG_INPUT, GUMBO_TAG_TEXTAREA, GUMBO_TAG_CANVAS,
                       GUMBO_TAG_VIDEO, GUMBO_TAG_IFRAME, GUMBO_TAG_EMBED, GUMBO_TAG_METER,
                       GUMBO_TAG_PROGRESS, GUMBO_TAG_AUDIO, GUMBO_TAG_KEYGEN, GUMBO_TAG_APPLET})
        d[t].traits = Replaced;
    // Not rendered by default, or fallback content a browser does not show.
    for (GumboTag t :
         {GUMBO_TAG_HEAD,     GUMBO_TAG_TITLE,   GUMBO_TAG_BASE,     GUMBO_TAG_LINK,
          GUMBO_TAG_META,     GUMBO_TAG_STYLE,   GUMBO_TAG_SCRIPT,   GUMBO_TAG_NOSCRIPT,
          GUMBO_TAG_TEMPLATE, GUMBO_TAG_RP,      GUMBO_TAG_PARAM,    GUMBO_TAG_SOURCE,
          GUMBO_TAG_TRACK,    GUMBO_TAG_AREA,    GUMBO_TAG_DATALIST, GUMBO_TAG_NOFRAMES,
          GUMBO_TAG_NOEMBED,  GUMBO_TAG_BGSOUND, GUMBO_TAG_FRAME,    GUMBO_TAG_COLGROUP,
          GUMBO_TAG_COL})
        d[t].display = Display::None;
    d[GUMBO_TAG_TABLE].display = Display::Table;
    for (GumboTag t : {GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT})
        d[t].display = Display::RowGroup;
    d[GUMBO_TAG_TR].display = Display::Row;
    d[GUMBO_TAG_TD].display = Display::Cell;
    d[GUMBO_TAG_TH].display = Display::Cell;
    return d;
}

const std::array<TagDefault, GUMBO_TAG_LAST + 1> kDefaults = makeDefaults();

bool isCollapsible(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c + ('a' - 'A')) : c;
}

bool sameAscii(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isCollapsible(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && isCollapsible(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

// The three properties of a style attribute that decide what innerText
// shows; each is set only when the attribute gives a value we know.
struct InlineStyle
{
    bool hasDisplay = false;
    Display display = Display::Inline;
    bool hasVisibility = false;
    bool visible = true;
    bool hasWhiteSpace = false;
    WhiteSpace whiteSpace = WhiteSpace::Collapse;
};

bool displayValue(std::string_view v, Display& out)
{
    static const std::pair<std::string_view, Display> kValues[] = {
        {"none", Display::None},
        {"inline", Display::Inline},
        {"block", Display::Block},
        {"list-item", Display::Block},
        {"table-caption", Display::Block},
        {"inline-block", Display::InlineBlock},
        {"table", Display::Table},
        {"inline-table", Display::InlineTable},
        {"table-row-group", Display::RowGroup},
        {"table-header-group", Display::RowGroup},
        {"table-footer-group", Display::RowGroup},
        {"table-row", Display::Row},
        {"table-cell", Display::Cell},
        {"table-column", Display::None},
        {"table-column-group", Display::None},
    };
    for (const auto& [name, display] : kValues) {
        if (sameAscii(v, name)) {
            out = display;
            return true;
        }
    }
    return false;
}

bool whiteSpaceValue(std::string_view v, WhiteSpace& out)
{
    if (sameAscii(v, "normal") || sameAscii(v, "nowrap"))
        out = WhiteSpace::Collapse;
    else if (sameAscii(v, "pre") || sameAscii(v, "pre-wrap") || sameAscii(v, "break-spaces"))
        out = WhiteSpace::Preserve;
    else if (sameAscii(v, "pre-line"))
        out = WhiteSpace::PreLine;
    else
        return false;
    return true;
}

// One declaration "name: value [!important]". A later declaration wins over
// an earlier one unless only the earlier is important.
void applyDeclaration(std::string_view decl, InlineStyle& style, unsigned char& important)
{
    const size_t colon = decl.find(':');
    if (colon == std::string_view::npos)
        return;
    const std::string_view name = trimmed(decl.substr(0, colon));
    std::string_view value = trimmed(decl.substr(colon + 1));
    bool isImportant = false;
    const size_t bang = value.rfind('!');
    if (bang != std::string_view::npos && sameAscii(trimmed(value.substr(bang + 1)), "important")) {
        isImportant = true;
        value = trimmed(value.substr(0, bang));
    }
    const auto take = [&](unsigned char bit, bool& has, auto assign) {
        if ((important & bit) && !isImportant)
            return;
        if (assign()) {
            has = true;
            if (isImportant)
                important |= bit;
        }
    };
    if (sameAscii(name, "display")) {
        take(1, style.hasDisplay, [&] { return displayValue(value, style.display); });
    } else if (sameAscii(name, "visibility")) {
        take(2, style.hasVisibility, [&] {
            if (sameAscii(value, "visible"))
                style.visible = true;
            else if (sameAscii(value, "hidden") || sameAscii(value, "collapse"))
                style.visible = false;
            else
                return false;
            return true;
        });
    } else if (sameAscii(name, "white-space")) {
        take(4, style.hasWhiteSpace, [&] { return whiteSpaceValue(value, style.whiteSpace); });
    }
}

InlineStyle parseStyle(const char* text)
{
    InlineStyle style;
    unsigned char important = 0;
    // Declarations end at ';' outside quotes and brackets; comments count as
    // nothing.
    std::string declaration;
    char quote = 0;
    int depth = 0;
    for (const char* p = text;; ++p) {
        const char c = *p;
        if (c == 0 || (c == ';' && !quote && depth == 0)) {
            applyDeclaration(declaration, style, important);
            declaration.clear();
            if (c == 0)
                break;
            continue;
        }
        if (!quote && c == '/' && p[1] == '*') {
            const char* end = std::strstr(p + 2, "*/");
            if (!end)
                break;
            p = end + 1;
            continue;
        }
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            --depth;
        }
        declaration.push_back(c);
    }
    return style;
}

// The tag name of an element gumbo has no number for (most of SVG, newer
// HTML elements), as written.
std::string_view unknownTagName(const GumboElement& e)
{
    GumboStringPiece piece = e.original_tag;
    if (!piece.data)
        return {};
    gumbo_tag_from_original_text(&piece);
    return {piece.data, piece.length};
}

// Collects the text as strings and "required line breaks" that merge with
// their neighbours, the way innerText does: breaks at either end vanish, a
// run of breaks becomes as many line feeds as the largest asks. Collapsible
// white space becomes one blank between two things on a line, and none at
// the start or end of a line.
class TextBuilder
{
public:
    explicit TextBuilder(qsizetype expected) { m_out.reserve(expected); }

    // A block's edge. Zero breaks still end the line (a hidden block).
    void requireBreaks(int count)
    {
        m_pendingBreaks = std::max(m_pendingBreaks, count);
        endLine();
    }

    // A paragraph's breaks around a box that does not end the line (an
    // inline <p>): a blank before it is on the line, so it stays.
    void requireBreaksInLine(int count)
    {
        if (m_pendingSpace && m_lineStarted && !m_pendingSpaceHidden) {
            // Shown before the breaks if the line goes on after them.
            m_spaceBeforeBreaks = true;
            m_spaceShown = true;
        }
        m_pendingSpace = false;
        m_pendingBreaks = std::max(m_pendingBreaks, count);
    }

    // A line feed or tab that innerText itself puts in (a <br>, between rows
    // and cells): a blank before it is at the end of a line or cell.
    void inserted(char c)
    {
        m_spaceBeforeBreaks = false;
        flushBreaks();
        m_out.push_back(c);
        endLine();
    }

    // Text whose white space is kept.
    void preserved(const char* data, size_t size)
    {
        if (size == 0)
            return;
        beginContent();
        m_out.append(data, qsizetype(size));
        m_lineStarted = data[size - 1] != '\n';
    }

    void collapsed(const char* data, size_t size)
    {
        const char* p = data;
        const char* end = data + size;
        while (p < end) {
            if (isCollapsible(static_cast<unsigned char>(*p))) {
                space(false);
                ++p;
                continue;
            }
            const char* run = p;
            while (p < end && !isCollapsible(static_cast<unsigned char>(*p)))
                ++p;
            beginContent();
            m_out.append(run, qsizetype(p - run));
        }
    }

    // White space collapses, line feeds stay.
    void preLine(const char* data, size_t size)
    {
        const char* end = data + size;
        for (const char* p = data; p <= end;) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            const char* stop = lf ? lf : end;
            collapsed(p, size_t(stop - p));
            if (!lf)
                break;
            inserted('\n');
            p = lf + 1;
        }
    }

    // Text of a hidden element: it takes its room on the line, so the
    // blanks beside it stay, but shows nothing.
    void hidden(const char* data, size_t size)
    {
        for (const char* p = data; p < data + size; ++p) {
            if (isCollapsible(static_cast<unsigned char>(*p)))
                space(true);
            else
                box();
        }
    }

    // A replaced element on the line (an image, a form control).
    void box()
    {
        if (m_pendingSpace && m_lineStarted && !m_pendingSpaceHidden) {
            flushBreaks();
            m_out.push_back(' ');
        }
        m_pendingSpace = false;
        m_spaceShown = false;
        m_lineStarted = true;
    }

    // An inline-block: a box on the outer line whose content starts lines
    // of its own.
    void enterInlineBlock()
    {
        box();
        m_lineStarted = false;
    }
    void leaveInlineBlock()
    {
        m_pendingSpace = false;
        m_lineStarted = true;
    }

    // A cell starts or ends: blanks at its edges are not rendered.
    void boxEdge() { endLine(); }

    QByteArray take() { return std::move(m_out); }

private:
    // The first of several collapsible blanks is the one that is rendered,
    // and a hidden one shows nothing.
    void space(bool hidden)
    {
        if (m_spaceShown)
            return; // collapses into the blank already shown
        if (!m_pendingSpace) {
            m_pendingSpace = true;
            m_pendingSpaceHidden = hidden;
        }
    }

    void beginContent()
    {
        flushBreaks();
        if (m_pendingSpace && m_lineStarted && !m_pendingSpaceHidden)
            m_out.push_back(' ');
        m_pendingSpace = false;
        m_spaceShown = false;
        m_lineStarted = true;
    }

    // Blanks at the end of a line are not rendered.
    void endLine()
    {
        m_pendingSpace = false;
        m_spaceBeforeBreaks = false;
        m_spaceShown = false;
        m_lineStarted = false;
    }

    void flushBreaks()
    {
        if (m_spaceBeforeBreaks) {
            m_out.push_back(' ');
            m_spaceBeforeBreaks = false;
        }
        if (m_pendingBreaks > 0) {
            if (!m_out.isEmpty())
                m_out.append(qsizetype(m_pendingBreaks), '\n');
            m_pendingBreaks = 0;
        }
    }

    QByteArray m_out;
    int m_pendingBreaks = 0;
    bool m_pendingSpace = false;
    bool m_pendingSpaceHidden = false;
    bool m_spaceBeforeBreaks = false;
    bool m_spaceShown = false; // a blank ends what was written on this line
    bool m_lineStarted = false;
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
    // A page without a standards doctype is laid out in quirks mode, where
    // a table does not inherit the white space handling around it.
    Walker(TextBuilder& out, bool quirks) : m_out(out), m_quirks(quirks) {}

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
                visit(child);
            } else {
                leave(m_stack.back());
                m_stack.pop_back();
            }
        }
    }

private:
    // An element being walked, with what its descendants inherit.
    struct Frame
    {
        const GumboNode* node;
        unsigned next = 0;
        Display display = Display::Inline;
        unsigned char traits = 0;
        WhiteSpace whiteSpace = WhiteSpace::Collapse;
        bool visible = true;
        bool showsText = true; // its text children render (not so in SVG outside <text>)
        bool inSelect = false;
        bool inSvg = false;
        // Of the last row box of this table, and the last cell box of this
        // row: -1 none yet, 0 hidden, 1 visible. A visible one is followed by
        // a line feed or a tab when another comes.
        signed char lastRow = -1;
        signed char lastCell = -1;
        unsigned childElementsSeen = 0;
    };

    void visit(const GumboNode* n)
    {
        Frame& parent = m_stack.back();
        if ((parent.traits & SummaryOnly) &&
            (n->type != GUMBO_NODE_ELEMENT || n->v.element.tag != GUMBO_TAG_SUMMARY))
            return;
        switch (n->type) {
        case GUMBO_NODE_WHITESPACE:
            if (isTableStructure(parent.display))
                break; // blanks between rows and cells are not rendered
            [[fallthrough]];
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_CDATA:
            if (parent.showsText && !(parent.traits & OptionsOnly))
                text(parent, n->v.text.text);
            break;
        case GUMBO_NODE_ELEMENT:
            if (parent.traits & OptionsOnly) {
                const GumboTag tag = n->v.element.tag;
                if (tag != GUMBO_TAG_OPTION && tag != GUMBO_TAG_OPTGROUP)
                    break;
            }
            if (parent.traits & FirstChildOnly) {
                if (parent.childElementsSeen++ > 0)
                    break;
            }
            enter(n);
            break;
        default: // comments, templates
            break;
        }
    }

    static bool isTableStructure(Display d)
    {
        return d == Display::Table || d == Display::InlineTable || d == Display::RowGroup ||
               d == Display::Row;
    }

    void text(const Frame& parent, const char* s)
    {
        const size_t size = std::strlen(s);
        if (!parent.visible)
            m_out.hidden(s, size);
        else if (parent.whiteSpace == WhiteSpace::Preserve)
            m_out.preserved(s, size);
        else if (parent.whiteSpace == WhiteSpace::PreLine)
            m_out.preLine(s, size);
        else
            m_out.collapsed(s, size);
    }

    // The frame an element would have, or display None when it has no box.
    Frame frameFor(const GumboNode* n) const
    {
        const GumboElement& e = n->v.element;
        const Frame* parent = m_stack.empty() ? nullptr : &m_stack.back();
        Frame f;
        f.node = n;
        if (parent) {
            f.whiteSpace = parent->whiteSpace;
            f.visible = parent->visible;
            f.showsText = parent->showsText;
            f.inSelect = parent->inSelect;
            f.inSvg = parent->inSvg;
        }

        if (e.tag_namespace == GUMBO_NAMESPACE_HTML) {
            const TagDefault& d = kDefaults[e.tag];
            f.display = d.display;
            f.traits = d.traits;
            if (e.tag == GUMBO_TAG_UNKNOWN && sameAscii(unknownTagName(e), "dialog"))
                f.display =
                    gumbo_get_attribute(&e.attributes, "open") ? Display::Block : Display::None;
            else if (e.tag == GUMBO_TAG_INPUT) {
                const GumboAttribute* type = gumbo_get_attribute(&e.attributes, "type");
                if (type && sameAscii(trimmed(type->value), "hidden"))
                    f.display = Display::None;
            } else if ((e.tag == GUMBO_TAG_AUDIO &&
                        !gumbo_get_attribute(&e.attributes, "controls")) ||
                       (e.tag == GUMBO_TAG_EMBED && !gumbo_get_attribute(&e.attributes, "src") &&
                        !gumbo_get_attribute(&e.attributes, "type"))) {
                f.display = Display::None;
            }
            if (d.traits & Pre)
                f.whiteSpace = WhiteSpace::Preserve;
            else if (e.tag == GUMBO_TAG_TABLE && m_quirks)
                f.whiteSpace = WhiteSpace::Collapse;
            if (e.tag == GUMBO_TAG_SELECT)
                f.inSelect = true;
            // HTML inside <foreignObject> shows as HTML does.
            f.showsText = true;
            f.inSvg = false;
        } else if (e.tag_namespace == GUMBO_NAMESPACE_SVG) {
            svgFrame(e, f);
        } else {
            f.display = Display::Inline; // MathML
        }
        if (f.display == Display::None)
            return f;

        // In a select, every option shows, hidden or not.
        const bool option = f.inSelect && e.tag_namespace == GUMBO_NAMESPACE_HTML &&
                            (e.tag == GUMBO_TAG_OPTION || e.tag == GUMBO_TAG_OPTGROUP);
        if (e.attributes.length == 0 || option)
            return f;
        const bool takesDisplay = !(f.traits & SvgGroup);
        bool hidden = takesDisplay && gumbo_get_attribute(&e.attributes, "hidden") != nullptr;
        if (const GumboAttribute* attr = gumbo_get_attribute(&e.attributes, "style")) {
            const InlineStyle style = parseStyle(attr->value);
            if (style.hasDisplay && takesDisplay) {
                hidden = false; // the attribute's display wins over [hidden]
                f.display = style.display;
            }
            if (style.hasVisibility)
                f.visible = style.visible;
            if (style.hasWhiteSpace)
                f.whiteSpace = style.whiteSpace;
        }
        if (hidden)
            f.display = Display::None;
        return f;
    }

    // An svg image is a box on the line; only the content of its <text>
    // elements (and of <foreignObject>) is text, each on lines of its own.
    // Titles, descriptions and metadata are not shown. As in a browser,
    // hiding a group does not take its text away, hiding the text does.
    void svgFrame(const GumboElement& e, Frame& f) const
    {
        f.whiteSpace = WhiteSpace::Collapse;
        const std::string_view name = e.tag == GUMBO_TAG_UNKNOWN ? unknownTagName(e) : "";
        bool takesDisplay = true;
        if (e.tag == GUMBO_TAG_SVG && !f.inSvg) {
            f.display = Display::InlineBlock;
            f.showsText = false;
            f.inSvg = true;
        } else if (e.tag == GUMBO_TAG_FOREIGNOBJECT || sameAscii(name, "text")) {
            f.display = Display::Block;
            f.showsText = true;
        } else if (e.tag == GUMBO_TAG_TITLE || e.tag == GUMBO_TAG_DESC ||
                   e.tag == GUMBO_TAG_STYLE || e.tag == GUMBO_TAG_SCRIPT ||
                   sameAscii(name, "metadata")) {
            f.display = Display::None;
            return;
        } else {
            f.display = Display::Inline;
            takesDisplay = sameAscii(name, "tspan") || sameAscii(name, "textpath");
            if (!takesDisplay)
                f.traits |= SvgGroup;
        }
        if (sameAscii(name, "switch"))
            f.traits |= FirstChildOnly;
        // Presentation attributes; the style attribute, read later, wins.
        if (const GumboAttribute* v = gumbo_get_attribute(&e.attributes, "visibility")) {
            const std::string_view value = trimmed(v->value);
            if (sameAscii(value, "visible"))
                f.visible = true;
            else if (sameAscii(value, "hidden") || sameAscii(value, "collapse"))
                f.visible = false;
        }
        if (takesDisplay) {
            if (const GumboAttribute* d = gumbo_get_attribute(&e.attributes, "display")) {
                if (sameAscii(trimmed(d->value), "none"))
                    f.display = Display::None;
            }
        }
    }

    void enter(const GumboNode* n)
    {
        Frame f = frameFor(n);
        if (f.display == Display::None)
            return;
        const GumboElement& e = n->v.element;
        if (e.tag == GUMBO_TAG_BR && e.tag_namespace == GUMBO_NAMESPACE_HTML) {
            if (f.visible)
                m_out.inserted('\n');
            else
                m_out.requireBreaks(0);
            return;
        }

        const int breaks = !f.visible ? 0 : (f.traits & Paragraph) ? 2 : 1;
        switch (f.display) {
        case Display::Block:
        case Display::Table:
            m_out.requireBreaks(breaks);
            break;
        case Display::InlineBlock:
        case Display::InlineTable:
            if ((f.traits & Paragraph) && f.visible)
                m_out.requireBreaksInLine(2);
            if (f.traits & Replaced)
                m_out.box();
            else
                m_out.enterInlineBlock();
            break;
        case Display::Row:
            if (Frame* table = rowOwner()) {
                if (table->lastRow == 1)
                    m_out.inserted('\n');
                table->lastRow = f.visible ? 1 : 0;
            }
            break;
        case Display::Cell:
            if (!m_stack.empty()) {
                Frame& row = m_stack.back();
                if (row.lastCell == 1)
                    m_out.inserted('\t');
                row.lastCell = f.visible ? 1 : 0;
            }
            m_out.boxEdge();
            break;
        default: // Inline, RowGroup
            if ((f.traits & Paragraph) && f.visible)
                m_out.requireBreaksInLine(2);
            if ((f.traits & Replaced) && f.display == Display::Inline)
                m_out.box();
            break;
        }
        if (!(f.traits & Replaced) && e.children.length > 0) {
            if (e.tag == GUMBO_TAG_DETAILS && gumbo_get_attribute(&e.attributes, "open"))
                f.traits &= ~SummaryOnly;
            m_stack.push_back(f);
            return;
        }
        leave(f);
    }

    void leave(const Frame& f)
    {
        const int breaks = !f.visible ? 0 : (f.traits & Paragraph) ? 2 : 1;
        switch (f.display) {
        case Display::Block:
        case Display::Table:
            m_out.requireBreaks(breaks);
            break;
        case Display::InlineBlock:
        case Display::InlineTable:
            if (!(f.traits & Replaced))
                m_out.leaveInlineBlock();
            if ((f.traits & Paragraph) && f.visible)
                m_out.requireBreaksInLine(2);
            break;
        case Display::Cell:
            m_out.boxEdge();
            break;
        default:
            if ((f.traits & Paragraph) && f.visible)
                m_out.requireBreaksInLine(2);
            break;
        }
    }

    // The table a row belongs to: its parent, or the table of its row group.
    // A row outside any table has its parent as table.
    Frame* rowOwner()
    {
        if (m_stack.empty())
            return nullptr;
        Frame& parent = m_stack.back();
        if (parent.display == Display::RowGroup && m_stack.size() > 1) {
            Frame& grand = m_stack[m_stack.size() - 2];
            if (grand.display == Display::Table || grand.display == Display::InlineTable)
                return &grand;
        }
        return &parent;
    }

    TextBuilder& m_out;
    bool m_quirks;
    std::vector<Frame> m_stack;
};

// The digits of a numeric character reference, as [begin, end) in the page.
struct DigitRun
{
    size_t begin;
    size_t end;
    bool hex;
};

int digitValue(char c, bool hex)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (hex && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// gumbo adds up the digits of a numeric character reference in an int and
// checks the range only after that, so a value past INT_MAX wraps round: the
// reference comes out as some other character, as a byte that is not UTF-8,
// or as a NUL that ends the text there, where a browser shows U+FFFD. The
// digit runs of such references, in page order.
std::vector<DigitRun> wrappingReferences(std::string_view page)
{
    constexpr uint64_t kIntMax = 0x7FFFFFFF;
    std::vector<DigitRun> runs;
    for (size_t at = page.find("&#"); at != std::string_view::npos; at = page.find("&#", at + 1)) {
        size_t p = at + 2;
        const bool hex = p < page.size() && (page[p] == 'x' || page[p] == 'X');
        if (hex)
            ++p;
        const size_t begin = p;
        uint64_t value = 0;
        for (int digit; p < page.size() && (digit = digitValue(page[p], hex)) >= 0; ++p)
            value = std::min(value * (hex ? 16 : 10) + uint64_t(digit), kIntMax + 1);
        if (value > kIntMax)
            runs.push_back({begin, p, hex});
    }
    return runs;
}

// Elements whose text gumbo takes as it stands, references and all.
bool keepsReferences(const GumboNode* element)
{
    if (element->type != GUMBO_NODE_ELEMENT ||
        element->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return false;
    switch (element->v.element.tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_PLAINTEXT:
        return true;
    default:
        return false;
    }
}

// The page with the digits of each wrapping reference that gumbo decoded
// into text replaced by those of U+FFFD, which it decodes as a browser
// decodes the original; references it kept as written (in <xmp>, in CDATA)
// stay as they are. Empty when there is nothing to replace.
QByteArray withoutWrappingReferences(const QByteArray& page, const std::vector<DigitRun>& runs,
                                     const GumboNode* root)
{
    std::vector<bool> decoded(runs.size(), false);
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        if (n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE) {
            const GumboVector& children = n->v.element.children;
            for (unsigned i = 0; i < children.length; ++i)
                stack.push_back(static_cast<const GumboNode*>(children.data[i]));
        } else if ((n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE) &&
                   !(n->parent && keepsReferences(n->parent))) {
            const GumboStringPiece& source = n->v.text.original_text;
            const char* const base = page.constData();
            if (!source.data || source.data < base ||
                source.data + source.length > base + page.size())
                continue;
            const size_t from = size_t(source.data - base);
            const size_t to = from + source.length;
            auto run = std::lower_bound(runs.begin(), runs.end(), from,
                                        [](const DigitRun& r, size_t at) { return r.begin < at; });
            for (; run != runs.end() && run->end <= to; ++run)
                decoded[size_t(run - runs.begin())] = true;
        }
    }
    if (std::find(decoded.begin(), decoded.end(), true) == decoded.end())
        return {};
    QByteArray out;
    out.reserve(page.size());
    size_t done = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (!decoded[i])
            continue;
        out.append(page.constData() + done, qsizetype(runs[i].begin - done));
        out.append(runs[i].hex ? "FFFD" : "65533");
        done = runs[i].end;
    }
    out.append(page.constData() + done, page.size() - qsizetype(done));
    return out;
}

// gumbo writes out each character it holds as UTF-8, and the walk never
// splits one; should a value it cannot write still come through, its bytes
// show as U+FFFD, one each, rather than reach the pane or the clipboard.
QByteArray wellFormedUtf8(QByteArray text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.constData());
    const size_t size = size_t(text.size());
    char32_t cp;
    size_t at = 0;
    for (size_t n; at < size && (n = Utf8SequenceAt(p + at, size - at, cp)) > 0;)
        at += n;
    if (at == size)
        return text;
    QByteArray out;
    out.reserve(text.size() + 16);
    out.append(text.constData(), qsizetype(at));
    while (at < size) {
        if (const size_t n = Utf8SequenceAt(p + at, size - at, cp)) {
            out.append(text.constData() + at, qsizetype(n));
            at += n;
        } else {
            out.append("\xEF\xBF\xBD");
            ++at;
        }
    }
    return out;
}

} // namespace

QByteArray HtmlToTextUtf8(const QByteArray& utf8Html)
{
    if (utf8Html.isEmpty())
        return {};
    GumboArena arena; // holds both parses when there are two
    GumboOptions options = kGumboDefaultOptions;
    arena.install(options);
    options.max_errors = 0; // parse errors are of no use here and cost memory
    const GumboOutput* output =
        gumbo_parse_with_options(&options, utf8Html.constData(), size_t(utf8Html.size()));
    const std::vector<DigitRun> wrapping =
        wrappingReferences(std::string_view(utf8Html.constData(), size_t(utf8Html.size())));
    QByteArray repaired;
    if (!wrapping.empty())
        repaired = withoutWrappingReferences(utf8Html, wrapping, output->root);
    if (!repaired.isEmpty())
        output = gumbo_parse_with_options(&options, repaired.constData(), size_t(repaired.size()));
    TextBuilder builder(utf8Html.size() / 2);
    const bool quirks = output->document->v.document.doc_type_quirks_mode == GUMBO_DOCTYPE_QUIRKS;
    Walker(builder, quirks).run(findBody(output->root));
    return wellFormedUtf8(builder.take());
}

QByteArray HtmlToText(const QByteArray& html)
{
    if (html.isEmpty())
        return {};
    QByteArray text = HtmlToTextUtf8(AnsiCodec::ansiToUtf8(html));
    // A no-break space has no place in code page 936 and shows as a blank.
    text.replace("\xC2\xA0", " ");
    return AnsiCodec::utf8ToAnsi(text);
}
