#pragma once

#include <QByteArray>

// The text a browser's innerText of the page's body gives, for a page without
// style sheets: lines and blank lines of blocks, tabs between table cells,
// blanks beside images and form controls; nothing of head, script, style,
// form fields' text, SVG outside <text>, or elements that the hidden
// attribute or the style attribute's display, visibility and white-space
// hide or shape. No script runs and nothing is fetched. Code page 936 in and
// out: what it cannot hold comes out as '?', a no-break space as a blank.
// Empty input is not parsed at all.
QByteArray HtmlToText(const QByteArray& html);

// The same on UTF-8, with every character of the page, no-break spaces too.
// Whatever the bytes, the result is well-formed UTF-8: bytes that are not
// UTF-8 and references to no character show as U+FFFD.
QByteArray HtmlToTextUtf8(const QByteArray& utf8Html);
