#pragma once

// File names between the file system's bytes and the toolkit's text. Unlike
// QFile::encodeName/decodeName, bytes that are not UTF-8 (a Latin-1 name)
// survive the round trip: they travel as the unpaired surrogates of
// platform/TextConversion.h.

#include <QString>

#include <string>
#include <string_view>

class QUrl;

QString QStringFromFileName(std::string_view name);
std::string FileNameFromQString(const QString& name);

// The local file a URL names, as the bytes of its path, or nothing (false)
// when the URL names no local file: a file URL whose host is empty,
// "localhost" or this machine's name. Percent-encoded bytes become the
// bytes they encode, whether or not they are UTF-8.
bool LocalFileNameOfUrl(const QUrl& url, std::string& name);
