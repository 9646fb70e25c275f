#ifndef CORVANE_HTTPLOGGING_H
#define CORVANE_HTTPLOGGING_H

#include <QLoggingCategory>

namespace corvane {

// The server's own messages. A program that turns the category's debug level off pays
// nothing for the per-request lines: they are not even formatted.
Q_DECLARE_LOGGING_CATEGORY(httpLog)

} // namespace corvane

#endif
