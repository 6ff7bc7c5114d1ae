// Pure logic: listing lines, the server field, remote paths and names.
#include "ftp/ListingParser.h"
#include "ftp/RemoteName.h"
#include "ftp/RemotePath.h"
#include "ftp/ServerAddress.h"

#include <QtTest>

class ParserTest : public QObject {
    Q_OBJECT

private slots:
    void listLine_data();
    void listLine();
    void mlsdLine_data();
    void mlsdLine();
    void readsSizesWhereGiven();
    void splitsLinesAcrossChunks();
    void dropsOverlongLines();
    void serverAddress_data();
    void serverAddress();
    void remotePath();
    void displayNames();
    void sendableText();
};

void ParserTest::listLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("isDirectory");

    QTest::newRow("pyftpdlib file")
        << QByteArray("-rw-r--r--   1 user     group           6 Dec 06 18:10 hello.txt") << true
        << QByteArray("hello.txt") << false;
    QTest::newRow("proftpd directory, padded day")
        << QByteArray("drwxr-xr-x   2 ftpu     ftpg         4096 Dec  6 18:11 docs") << true
        << QByteArray("docs") << true;
    QTest::newRow("year instead of time")
        << QByteArray("-rw-r--r--   1 u g 10 Jan 31  2023 old.bin") << true << QByteArray("old.bin")
        << false;
    QTest::newRow("name with spaces, leading one kept")
        << QByteArray("-rw-r--r--   1 u g 10 Jan 31 10:00  two  spaces ") << true
        << QByteArray(" two  spaces ") << false;
    QTest::newRow("no group column") << QByteArray("-rw-r--r--   1 user 6 Dec 06 18:10 nogroup")
                                     << true << QByteArray("nogroup") << false;
    QTest::newRow("symlink") << QByteArray("lrwxrwxrwx 1 u g 5 Dec 6 18:10 link -> target") << true
                             << QByteArray("link") << false;
    QTest::newRow("symlink to directory")
        << QByteArray("lrwxrwxrwx 1 u g 5 Dec 6 18:10 up -> ../dir/") << true << QByteArray("up")
        << true;
    QTest::newRow("device file") << QByteArray("crw-rw-rw-   1 root root 1, 3 Dec 6 18:10 null")
                                 << true << QByteArray("null") << false;
    QTest::newRow("iso dates") << QByteArray("drwxr-xr-x 2 u g 4096 2024-01-31 10:00 iso dir")
                               << true << QByteArray("iso dir") << true;
    QTest::newRow("month in a name is no date")
        << QByteArray("-rw-r--r-- 1 Dec 6 10 Jan 2 10:00 Dec 6 10:00 x") << true
        << QByteArray("Dec 6 10:00 x") << false;
    QTest::newRow("chinese name")
        << QByteArray("-rw-r--r-- 1 u g 6 Dec 06 18:10 \xe4\xb8\xad\xe6\x96\x87.txt") << true
        << QByteArray("\xe4\xb8\xad\xe6\x96\x87.txt") << false;
    QTest::newRow("dos directory") << QByteArray("01-31-24  10:00AM       <DIR>          My Docs")
                                   << true << QByteArray("My Docs") << true;
    QTest::newRow("dos file") << QByteArray("01-31-2024  10:00PM            1234 report.txt")
                              << true << QByteArray("report.txt") << false;
    QTest::newRow("total line") << QByteArray("total 12") << false << QByteArray() << false;
    QTest::newRow("empty") << QByteArray() << false << QByteArray() << false;
    QTest::newRow("garbage") << QByteArray("\x01\x02 garbage ; ; ;") << false << QByteArray()
                             << false;
    QTest::newRow("date but no name")
        << QByteArray("-rw-r--r-- 1 u g 6 Dec 06 18:10") << false << QByteArray() << false;
    QTest::newRow("date and one blank, no name")
        << QByteArray("-rw-r--r-- 1 u g 6 Dec 06 18:10 ") << false << QByteArray() << false;
    QTest::newRow("permissions only") << QByteArray("drwxr-xr-x") << false << QByteArray() << false;
    QTest::newRow("dos without name")
        << QByteArray("01-31-24  10:00AM       <DIR>") << false << QByteArray() << false;
}

void ParserTest::listLine() {
    QFETCH(QByteArray, line);
    QFETCH(bool, parsed);
    const auto entry = ParseListLine(line);
    QCOMPARE(entry.has_value(), parsed);
    if (parsed) {
        QTEST(entry->name, "name");
        QTEST(entry->isDirectory, "isDirectory");
    }
}

void ParserTest::mlsdLine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("isDirectory");

    QTest::newRow("file") << QByteArray("type=file;size=6;modify=20241206181000; hello.txt") << true
                          << QByteArray("hello.txt") << false;
    QTest::newRow("dir, upper case")
        << QByteArray("Type=Dir;Modify=20241206181000; docs") << true << QByteArray("docs") << true;
    QTest::newRow("cdir by path") << QByteArray("type=cdir;perm=el; /home/u") << true
                                  << QByteArray(".") << true;
    QTest::newRow("pdir") << QByteArray("type=pdir;perm=el; ..") << true << QByteArray("..")
                          << true;
    QTest::newRow("name with spaces and semicolons")
        << QByteArray("type=file;size=1; a; b  c") << true << QByteArray("a; b  c") << false;
    QTest::newRow("leading bracket")
        << QByteArray("type=file; [x]") << true << QByteArray("[x]") << false;
    QTest::newRow("link") << QByteArray("type=OS.unix=slink:/etc;size=4; etc") << true
                          << QByteArray("etc") << false;
    QTest::newRow("no facts") << QByteArray(" bare") << true << QByteArray("bare") << false;
    QTest::newRow("no space") << QByteArray("type=file;size=1;") << false << QByteArray() << false;
    QTest::newRow("space but no name")
        << QByteArray("type=file; ") << false << QByteArray() << false;
}

void ParserTest::mlsdLine() {
    QFETCH(QByteArray, line);
    QFETCH(bool, parsed);
    const auto entry = ParseMlsdLine(line);
    QCOMPARE(entry.has_value(), parsed);
    if (parsed) {
        QTEST(entry->name, "name");
        QTEST(entry->isDirectory, "isDirectory");
    }
}

void ParserTest::readsSizesWhereGiven() {
    QCOMPARE(ParseMlsdLine("type=file;size=1234; a")->size, 1234);
    QCOMPARE(ParseMlsdLine("type=file;size=x; a")->size, -1);
    QCOMPARE(ParseMlsdLine("type=dir; d")->size, -1);
    QCOMPARE(ParseListLine("-rw-r--r-- 1 u g 4294967296 Dec 06 18:10 big")->size,
             Q_INT64_C(4294967296));
    QCOMPARE(ParseListLine("-rw-r--r-- 1 u 77 Dec 06 18:10 nogroup")->size, 77);
    QCOMPARE(ParseListLine("crw-rw-rw- 1 root root 1, 3 Dec 6 18:10 null")->size, 3);
    QCOMPARE(ParseListLine("01-31-2024  10:00PM            1234 report.txt")->size, 1234);
    QCOMPARE(ParseListLine("01-31-24  10:00AM       <DIR>          d")->size, -1);
}

void ParserTest::splitsLinesAcrossChunks() {
    const QByteArray listing = "type=dir; one\r\ntype=file; two\ntype=file; three";
    for (int chunk = 1; chunk <= listing.size(); ++chunk) {
        ListingParser parser(ListingFormat::Mlsd);
        for (int i = 0; i < listing.size(); i += chunk)
            parser.Feed(listing.constData() + i, std::min<size_t>(chunk, listing.size() - i));
        parser.Finish();
        const auto& entries = parser.Entries();
        QCOMPARE(entries.size(), size_t(3));
        QCOMPARE(entries[0].name, QByteArray("one"));
        QVERIFY(entries[0].isDirectory);
        QCOMPARE(entries[1].name, QByteArray("two"));
        QCOMPARE(entries[2].name, QByteArray("three"));
    }
}

void ParserTest::dropsOverlongLines() {
    ListingParser parser(ListingFormat::Mlsd);
    const QByteArray longName(ListingParser::kMaxLineLength, 'x');
    const QByteArray listing = "type=file; before\ntype=file; " + longName + "\ntype=file; after\n";
    for (int i = 0; i < listing.size(); i += 1000)
        parser.Feed(listing.constData() + i, std::min<size_t>(1000, listing.size() - i));
    parser.Finish();
    QCOMPARE(parser.Entries().size(), size_t(2));
    QCOMPARE(parser.Entries()[1].name, QByteArray("after"));
}

void ParserTest::serverAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("url");

    QTest::newRow("name") << "ftp.example.org" << true << QByteArray("ftp://ftp.example.org:21/");
    QTest::newRow("name and port")
        << "localhost:2121" << true << QByteArray("ftp://localhost:2121/");
    QTest::newRow("ipv4") << "127.0.0.1" << true << QByteArray("ftp://127.0.0.1:21/");
    QTest::newRow("bracketed v6") << "[::1]" << true << QByteArray("ftp://[::1]:21/");
    QTest::newRow("bracketed v6 and port") << "[::1]:990" << true << QByteArray("ftp://[::1]:990/");
    QTest::newRow("bare v6") << "fe80::1" << true << QByteArray("ftp://[fe80::1]:21/");
    QTest::newRow("international name") << "例子.测试" << true << QByteArray("ftp://例子.测试:21/");
    QTest::newRow("empty") << "" << false << QByteArray();
    QTest::newRow("spaces") << "   " << false << QByteArray();
    QTest::newRow("padded name") << " host" << false << QByteArray();
    QTest::newRow("scheme") << "ftp://host" << false << QByteArray();
    QTest::newRow("port 0") << "host:0" << false << QByteArray();
    QTest::newRow("port 70000") << "host:70000" << false << QByteArray();
    QTest::newRow("port 65535") << "host:65535" << true << QByteArray("ftp://host:65535/");
    QTest::newRow("empty port") << "host:" << false << QByteArray();
    QTest::newRow("unclosed bracket") << "[::1" << false << QByteArray();
    QTest::newRow("bracketed name") << "[host]" << false << QByteArray();
    QTest::newRow("junk after bracket") << "[::1]x" << false << QByteArray();
    QTest::newRow("credentials in host") << "user@host" << false << QByteArray();
    QTest::newRow("path in host") << "host/dir" << false << QByteArray();
    QTest::newRow("bad v6") << "1:2:3:z::" << false << QByteArray();
    QTest::newRow("very long") << QString(100000, 'a') << true
                               << "ftp://" + QByteArray(100000, 'a') + ":21/";
}

void ParserTest::serverAddress() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto address = ServerAddress::Parse(text, 21);
    QCOMPARE(address.has_value(), valid);
    if (valid)
        QTEST(address->BaseUrl(), "url");
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
    QCOMPARE(RemoteName::Display("plain"), QString("plain"));
    QCOMPARE(RemoteName::Display("\xe4\xb8\xad\xe6\x96\x87"), QString("中文"));
    // The same word as a GBK server sends it.
    QCOMPARE(RemoteName::Display("\xd6\xd0\xce\xc4"), QString("中文"));
}

void ParserTest::sendableText() {
    QVERIFY(RemoteName::IsSendable(QStringLiteral("正常 name;#%?")));
    QVERIFY(!RemoteName::IsSendable(QStringLiteral("secret\r\nDELE x")));
    QVERIFY(!RemoteName::IsSendable(QStringLiteral("a\nb")));
    QVERIFY(!RemoteName::IsSendable(QString(QChar(0))));
    QVERIFY(!RemoteName::IsSendable(QByteArrayView("x\0y", 3)));
}

QTEST_APPLESS_MAIN(ParserTest)
#include "tst_parsers.moc"
