#pragma once
// The pages the dashboard renders on the server: one record as a person reads
// and prints it, and a short page that says what was not found or went wrong.
// Every text that came from the database is escaped on the way in.

#include "record.h"

#include <QByteArray>
#include <QString>

namespace tamrisk {

// The whole page of `record`: its header, verdict, checks, serial numbers,
// steps and log (each line in its colour), UTF-8 HTML that uses only the
// dashboard's style sheet.
QByteArray RecordPage(const Record& record);

// A page titled `title` that says `text` and links back to the line's page.
QByteArray MessagePage(const QString& title, const QString& text);

}  // namespace tamrisk
