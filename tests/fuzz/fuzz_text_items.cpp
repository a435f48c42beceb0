// The line helpers every reader shares: comment removal, item splitting,
// items after a key and the continuation mark. Each result must be a part of
// the line it came from, and splitting must always make progress.
#include "tests/fuzz/fuzz_support.h"

#include "util/text_util.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

bool isItemSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r');
}

void checkLine(const QString &line)
{
    QString comment = QStringLiteral("untouched");
    const QString code = splitComment(line, comment);
    FUZZ_CHECK(line.startsWith(code));
    if (code.size() < line.size()) {
        FUZZ_CHECK(line.at(code.size()) == QLatin1Char('#'));
        FUZZ_CHECK(comment == line.mid(code.size() + 1));
    } else {
        FUZZ_CHECK(comment == QLatin1String("untouched"));
    }
    FUZZ_CHECK(removeComment(line) == code);
    FUZZ_CHECK(removeComment(code) == code);
    isBlankLine(line);

    // Taking items one by one consumes the line: each rest is a strictly
    // shorter tail of the text before it, and an unquoted item holds no
    // white space.
    QString rest = line;
    int guard = 0;
    while (true) {
        QString item;
        const QString next = takeFirstItem(rest, item);
        FUZZ_CHECK(rest.endsWith(next));
        if (item.isEmpty() && next.isEmpty())
            break;
        FUZZ_CHECK(next.size() < rest.size());
        FUZZ_CHECK(rest.contains(item));
        const qsizetype start = rest.indexOf(QRegularExpression(QStringLiteral("[^ \\t-\\r]")));
        if (start >= 0 && rest.at(start) != QLatin1Char('"'))
            for (const QChar c : item)
                FUZZ_CHECK(!isItemSpace(c));
        rest = next;
        FUZZ_CHECK(++guard <= line.size() + 1);
    }

    // The item may be the very string it is taken from.
    QString self = line;
    const QString selfRest = takeFirstItem(self, self);
    QString item;
    FUZZ_CHECK(takeFirstItem(line, item) == selfRest && item == self);

    const qsizetype cut = line.indexOf(QLatin1Char('='));
    if (cut >= 0) {
        const QString key = line.left(cut + 1);
        FUZZ_CHECK(startsWithKey(line, key));
        const QStringList items = itemsAfterKey(line, key);
        FUZZ_CHECK(items.size() <= line.size());
    }

    QString cont = line;
    if (endsWithContinuationMark(cont)) {
        FUZZ_CHECK(line.startsWith(cont) && cont.size() < line.size());
        FUZZ_CHECK(line.mid(cont.size()).trimmed() == QLatin1String("\\"));
    } else {
        FUZZ_CHECK(cont == line);
    }

    const QString padded = padRight(code, 25);
    FUZZ_CHECK(
        padded.startsWith(code) && padded.size() >= std::min<qsizetype>(25, code.size() + 101));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkLine(fuzz::utf8(data, size));
    checkLine(fuzz::latin1(data, size));
    return 0;
}
