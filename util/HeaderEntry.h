#pragma once

#include <QByteArray>

// One row of the request header list. Name and value are code page 936 byte
// strings, either possibly empty, never trimmed. Shared by the header list
// (headers/) and the request built from it (request/).
struct HeaderEntry
{
    QByteArray name;
    QByteArray value;
};
