#pragma once

#include <QByteArray>

// The visible text of an HTML text (code page 936 in and out); empty input
// gives empty output.
QByteArray HtmlToText(const QByteArray& html);
