// Pure logic: listing lines, the server field, remote paths and names.
#include "listing/ListingParser.h"
#include "listing/RemoteName.h"
#include "listing/RemotePath.h"
#include "listing/ServerAddress.h"

#include <QtTest>

namespace {

// The rows of a table under tests/data, below the line naming its columns; "\NN" in a cell is
// the byte NN in hex.
QList<QList<QByteArray>> DataRows(const char* fileName) {
    QFile file(TOLMI_SOURCE_DIR "/tests/data/" + QString(fileName));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", fileName);
    file.readLine();
    QList<QList<QByteArray>> rows;
    while (!file.atEnd()) {
        QList<QByteArray> cells;
        for (const QByteArray& cell : file.readLine().chopped(1).split('\t'))
            cells << cell.percentDecoded('\\');
        rows << cells;
    }
    return rows;
}

// The listing fed to a parser in pieces of `chunk` bytes, as it may arrive.
ListingParser Parsed(ListingFormat format, const QByteArray& listing, qsizetype chunk) {
    ListingParser parser(format);
    for (qsizetype i = 0; i < listing.size(); i += chunk)
        parser.Feed(listing.constData() + i, std::min(chunk, listing.size() - i));
    parser.Finish();
    return parser;
}

} // namespace

class ParserTest : public QObject {
    Q_OBJECT

private slots:
    void listingLines_data();
    void listingLines();
    void dropsOverlongLines();
    void serverAddress_data();
    void serverAddress();
    void remotePath();
    void displayNames();
};

void ParserTest::listingLines_data() {
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<bool>("mlsd");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("unread");

    int number = 0;
    for (const QList<QByteArray>& cells : DataRows("listings.tsv")) {
        QCOMPARE(cells.size(), 6);
        QTest::addRow("%s, row %d", cells[0].constData(), ++number)
            << cells[1] << (cells[0] == "mlsd") << cells[2] << cells[3] << cells[4].toLongLong()
            << cells[5].toInt();
    }
}

void ParserTest::listingLines() {
    QFETCH(QByteArray, listing);
    QFETCH(bool, mlsd);
    QFETCH(QByteArray, kind);
    QFETCH(int, unread);
    // Three times over, a byte at a time, ended by CRLF, LF and nothing: no line may give two
    // entries or take the next into its own.
    const QByteArray crlf = QByteArray(listing).replace('\n', "\r\n");
    const QByteArray thrice = crlf + "\r\n" + crlf + '\n' + crlf;
    ListingParser parser = Parsed(mlsd ? ListingFormat::Mlsd : ListingFormat::List, thrice, 1);
    QCOMPARE(parser.UnreadLines(), 3 * unread);
    const auto& entries = parser.Entries();
    QCOMPARE(entries.size(), size_t(kind == "none" ? 0 : 3));
    for (const RemoteEntry& entry : entries) {
        QTEST(entry.name, "name");
        QCOMPARE(entry.isDirectory, kind == "dir");
        QCOMPARE(entry.kindKnown, kind != "link");
        QTEST(entry.size, "size");
    }
}

void ParserTest::dropsOverlongLines() {
    const QByteArray longName(ListingParser::kMaxLineLength, 'x');
    const QByteArray listing = "type=file; before\ntype=file; " + longName + "\ntype=file; after\n";
    ListingParser parser = Parsed(ListingFormat::Mlsd, listing, 1000);
    QCOMPARE(parser.Entries().size(), size_t(2));
    QCOMPARE(parser.Entries()[1].name, QByteArray("after"));
    QCOMPARE(parser.UnreadLines(), 1);
}

void ParserTest::serverAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("url"); // "-": refused

    for (const QList<QByteArray>& cells : DataRows("server_addresses.tsv"))
        QTest::newRow(cells[0].constData()) << QString::fromUtf8(cells[1]) << cells[2];
    QTest::newRow("very long") << QString(100000, 'a')
                               << "ftp://" + QByteArray(100000, 'a') + ":21/";
}

void ParserTest::serverAddress() {
    QFETCH(QString, text);
    QFETCH(QByteArray, url);
    const auto address = ServerAddress::Parse(text, 21);
    QCOMPARE(address ? address->BaseUrl() : "-", url);
    QVERIFY(!address ||
            (address->tls == TlsMode::Required) == text.contains("ftpes", Qt::CaseInsensitive));
}

void ParserTest::remotePath() {
    const RemotePath login;
    const RemotePath docs = login.Child("docs");
    QCOMPARE(docs.Segments(), std::vector<QByteArray>{"docs"});
    QCOMPARE(docs.Child("sub").Child("..").Child("."), docs);
    QCOMPARE(docs.Child(".."), login);
    const RemotePath above = login.Child("..").Child("..");
    QCOMPARE(above.Segments(), (std::vector<QByteArray>{"..", ".."}));
    QCOMPARE(above.Child("x").Child(".."), above);
}

void ParserTest::displayNames() {
    QCOMPARE(RemoteName::Display("\xe4\xb8\xad\xe6\x96\x87"), QString("中文"));
    // The same word as a GBK server sends it.
    QCOMPARE(RemoteName::Display("\xd6\xd0\xce\xc4"), QString("中文"));
    // A CR inside a name is shown, not acted on.
    QCOMPARE(RemoteName::Display("evil\rname"), QString("evil\u240dname"));
}

QTEST_APPLESS_MAIN(ParserTest)
#include "tst_parsers.moc"
