#pragma once

#include <QByteArray>

// The visible text of an HTML text, laid out in lines the way a browser's
// innerText lays them out: blocks on lines of their own, a blank line around
// paragraphs, <br> as a line break, table cells separated by tabs and rows by
// line breaks, white space collapsed outside preformatted text, entities
// decoded, and the content of head, script, style, template, noscript and
// hidden elements left out. No script runs and nothing is fetched.
//
// Input and output are code page 936 byte strings; a character the code page
// cannot hold comes out as '?', a no-break space as a blank. Empty input gives
// empty output without parsing anything.
QByteArray HtmlToText(const QByteArray& html);

// The same walk on UTF-8 input and output (what the conversions above wrap).
QByteArray HtmlToTextUtf8(const QByteArray& utf8Html);
