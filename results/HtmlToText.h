#pragma once

#include <QByteArray>

// The visible text of an HTML text in the lines a browser's innerText gives
// (tabs between table cells; head, script, style, template, noscript and
// hidden elements left out). No script runs and nothing is fetched. Code page
// 936 in and out: what it cannot hold comes out as '?', a no-break space as a
// blank. Empty input is not parsed at all.
QByteArray HtmlToText(const QByteArray& html);

// The same on UTF-8.
QByteArray HtmlToTextUtf8(const QByteArray& utf8Html);
