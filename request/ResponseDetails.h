#pragma once

#include "request/untXmlHttp.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>

// What the window can show of a response beside its body: every response of
// a redirect chain, where the time went, and the body read in a character set
// the user chose.

// Each response as it arrived: its status line, its header lines, a blank
// line before the next response. Lines end in CR LF.
QByteArray ResponseChainText(const QByteArrayList& statusLines, const QByteArrayList& headerBlocks);

// Where the time of a send went, one line a step (name lookup, connect, TLS
// handshake when there was one, waiting for the first byte, receiving, the
// total) with the times of all its requests added up, then the rate of the
// final body. Empty when no request was made.
QString TransferTimesText(const QList<HttpHopTiming>& hops);

// The character sets a body can be read in by choice, by the names the
// decoder knows them by.
const QByteArrayList& OfferedCharsets();

// The body as UTF-8 text, read in `charset` whatever the response declares;
// bytes that are invalid in it show as U+FFFD. Throws ReqlarkError for a set
// the decoder does not know.
QByteArray BodyToUtf8In(const QByteArray& body, const QByteArray& charset);
