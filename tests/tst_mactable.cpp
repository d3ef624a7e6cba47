// mac.csv: reading the serial-number table, loading it into the window and
// looking serial numbers up.

#include "config/devicelist.h"
#include "config/mactable.h"
#include "support/testdata.h"
#include "support/windowdriver.h"

#include <QBuffer>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

MacTable readBytes(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readMacTable(buffer);
}

} // namespace

class tst_MacTable : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScratchDir> m_dir;

    void writeFile(const QString &name, const QByteArray &content)
    {
        QVERIFY(m_dir->write(name, content));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<ScratchDir>();
        QVERIFY(m_dir->isValid());
    }

    void cleanup() { m_dir.reset(); }

    void readRows_data()
    {
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QStringList>("sn");
        QTest::addColumn<QStringList>("mac");
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("LF rows numbered from 1")
            << QByteArray("A1,00:39:28:90:00:10\nA2,00:39:28:90:00:11\n") << QStringList{"A1", "A2"}
            << QStringList{"00:39:28:90:00:10", "00:39:28:90:00:11"}
            << QStringList{"1=>A1[00:39:28:90:00:10]", "2=>A2[00:39:28:90:00:11]"};
        QTest::newRow("CR LF line ends, last line without an end")
            << QByteArray("A1,m1\r\nA2,m2") << QStringList{"A1", "A2"} << QStringList{"m1", "m2"}
            << QStringList{"1=>A1[m1]", "2=>A2[m2]"};
        QTest::newRow("CR-only line ends keep rows apart")
            << QByteArray("A1,m1\rA2,m2\rA3,m3\r") << QStringList{"A1", "A2", "A3"}
            << QStringList{"m1", "m2", "m3"} << QStringList{"1=>A1[m1]", "2=>A2[m2]", "3=>A3[m3]"};
        QTest::newRow("header line is an ordinary row")
            << QByteArray("SN,MAC\nA1,m1\n") << QStringList{"SN", "A1"} << QStringList{"MAC", "m1"}
            << QStringList{"1=>SN[MAC]", "2=>A1[m1]"};
        QTest::newRow("fields beyond the second ignored, empty and spaced fields kept")
            << QByteArray("A1,m1,extra,more\n,m2\nA3,\n A4 , m4 \n")
            << QStringList{"A1", "", "A3", " A4 "} << QStringList{"m1", "m2", "", " m4"}
            << QStringList{"1=>A1[m1]", "2=>[m2]", "3=>A3[]", "4=> A4 [ m4]"};
        QTest::newRow("lines without a comma reported with their line numbers")
            << QByteArray("A1,m1\n\nlonely\nA2,m2\n") << QStringList{"A1", "A2"}
            << QStringList{"m1", "m2"}
            << QStringList{"1=>A1[m1]", "mac.csv第2行没有用逗号分开的SN和MAC，未载入",
                           "mac.csv第3行没有用逗号分开的SN和MAC，未载入", "2=>A2[m2]"};
        QTest::newRow("byte-order mark not part of the first serial number")
            << QByteArray("\xEF\xBB\xBF"
                          "A1,m1\n")
            << QStringList{"A1"} << QStringList{"m1"} << QStringList{"1=>A1[m1]"};
        QTest::newRow("placeholders in a field stay as written")
            << QByteArray("%2%3,%1\n") << QStringList{"%2%3"} << QStringList{"%1"}
            << QStringList{"1=>%2%3[%1]"};
        QTest::newRow("empty file")
            << QByteArray() << QStringList{} << QStringList{} << QStringList{};
        QTest::newRow("trailing blank or tab after a 17-character address: loaded without")
            << QByteArray("A1,00:39:28:90:00:10 \nA2,00:39:28:90:00:11\t\n")
            << QStringList{"A1", "A2"} << QStringList{"00:39:28:90:00:10", "00:39:28:90:00:11"}
            << QStringList{"1=>A1[00:39:28:90:00:10]", "2=>A2[00:39:28:90:00:11]"};
        QTest::newRow("stray CR before the line end: no false warning, numbers kept")
            << QByteArray("A1,m1\r\r\nA2,m2\r\r\nbroken\r\r\n") << QStringList{"A1", "A2"}
            << QStringList{"m1", "m2"}
            << QStringList{"1=>A1[m1]", "2=>A2[m2]", "mac.csv第3行没有用逗号分开的SN和MAC，未载入"};
        QTest::newRow("a serial number again with another address: said, first row kept")
            << QByteArray("A1,00:39:28:90:00:10\nA2,m2\nA1,00:39:28:90:00:11\n")
            << QStringList{"A1", "A2", "A1"}
            << QStringList{"00:39:28:90:00:10", "m2", "00:39:28:90:00:11"}
            << QStringList{"1=>A1[00:39:28:90:00:10]", "2=>A2[m2]", "3=>A1[00:39:28:90:00:11]",
                           "mac.csv第1行和第3行的SN A1 相同而MAC不同（00:39:28:90:00:10 与 "
                           "00:39:28:90:00:11），只用第1行"};
        QTest::newRow("a serial number again with the same address, written otherwise: fine")
            << QByteArray("A1,00:39:28:90:00:1a\nA1,00-39-28-90-00-1A\n") << QStringList{"A1", "A1"}
            << QStringList{"00:39:28:90:00:1a", "00-39-28-90-00-1A"}
            << QStringList{"1=>A1[00:39:28:90:00:1a]", "2=>A1[00-39-28-90-00-1A]"};
        QTest::newRow("one address for two serial numbers: said")
            << QByteArray("A1,00:39:28:90:00:10\n\nA2,003928900010\n") << QStringList{"A1", "A2"}
            << QStringList{"00:39:28:90:00:10", "003928900010"}
            << QStringList{"1=>A1[00:39:28:90:00:10]",
                           "mac.csv第2行没有用逗号分开的SN和MAC，未载入", "2=>A2[003928900010]",
                           "mac.csv第1行和第3行的MAC 003928900010 相同而SN不同（A1 与 A2）"};
        QTest::newRow("UTF-16 without a byte-order mark: read as such, said so")
            << QByteArray("A\0"
                          "1\0"
                          ",\0"
                          "m\0"
                          "1\0"
                          "\n\0"
                          "A\0"
                          "2\0"
                          ",\0"
                          "m\0"
                          "2\0",
                          22)
            << QStringList{"A1", "A2"} << QStringList{"m1", "m2"}
            << QStringList{
                   "mac.csv是不带字节顺序标记的UTF-16编码，已按UTF-16LE读入，请将文件另存为UTF-8",
                   "1=>A1[m1]", "2=>A2[m2]"};
        QTest::newRow("UTF-16 big-endian without a byte-order mark")
            << QByteArray("\0A\0"
                          "1\0"
                          ",\0"
                          "m\0"
                          "1\0"
                          "\n",
                          12)
            << QStringList{"A1"} << QStringList{"m1"}
            << QStringList{
                   "mac.csv是不带字节顺序标记的UTF-16编码，已按UTF-16BE读入，请将文件另存为UTF-8",
                   "1=>A1[m1]"};
        QTest::newRow("an address of 65 characters is still refused")
            << QByteArray("A1," + QByteArray(65, 'x') + "\n") << QStringList{} << QStringList{}
            << QStringList{"mac.csv第1行的MAC地址超过64个字符，未载入"};
    }

    void readRows()
    {
        QFETCH(QByteArray, csv);
        const MacTable table = readBytes(csv);
        QTEST(table.snList, "sn");
        QTEST(table.macList, "mac");
        QTEST(table.lines, "lines");
    }

    // Sizes a fuzzer reaches easily: they must load whole, in one pass.
    void largeInputs()
    {
        // A megabyte of serial number is read through, and refused: shown in
        // the traffic window it would hold the window for minutes.
        const QByteArray longSn(1 << 20, 'x');
        MacTable table = readBytes(longSn + ",00:39:28:90:00:10");
        QCOMPARE(table.snList.size(), 0);
        QCOMPARE(table.lines, QStringList{"mac.csv第1行的SN超过64个字符，未载入"});

        table = readBytes(QByteArray(1 << 20, ','));
        QCOMPARE(table.macList, QStringList{QString()});

        QByteArray rows;
        for (int i = 0; i < 100000; ++i)
            rows += "SN" + QByteArray::number(i) + ",00:39:28:00:00:01\n";
        table = readBytes(rows);
        QCOMPARE(table.snList.size(), 100000);
        QCOMPARE(table.lines.value(99999), QStringLiteral("100000=>SN99999[00:39:28:00:00:01]"));
        // One address for every row: said once, not a hundred thousand times.
        QCOMPARE(table.lines.mid(100000),
                 QStringList{"mac.csv第1行和第2行的MAC 00:39:28:00:00:01 相同而SN不同（SN0 与 SN1）"
                             "；另有99998行同样"});
    }

    void findSerialNumber_data()
    {
        QTest::addColumn<QString>("sn");
        QTest::addColumn<int>("index");

        QTest::newRow("first row is index 0") << "PDU01" << 0;
        QTest::newRow("duplicate: first row wins") << "PDU02" << 1;
        QTest::newRow("trailing space not found") << "PDU01 " << -1;
        QTest::newRow("other letter case not found") << "pdu01" << -1;
        QTest::newRow("empty text finds the row with an empty serial number") << "" << 3;
    }

    void findSerialNumber()
    {
        QFETCH(QString, sn);
        const QStringList snList{"PDU01", "PDU02", "PDU02", "", "PDU03"};
        QTEST(::findSerialNumber(snList, sn), "index");
    }

    void tableLoadsIntoWindow()
    {
        // Mixed line ends, a lone CR among them: the file is read as its bytes stand.
        writeFile(QStringLiteral("mac.csv"),
                  "PDU01,00:39:28:90:00:10\rPDU02,00:39:28:90:00:11\r\nbroken\n");
        MainWindow w;
        QCOMPARE(MainWindowProbe::macCount(w), 2);
        QCOMPARE(MainWindowProbe::snList(w), (QStringList{"PDU01", "PDU02"}));
        QCOMPARE(MainWindowProbe::macList(w),
                 (QStringList{"00:39:28:90:00:10", "00:39:28:90:00:11"}));
        // The table's lines come first; the missing config.ini reports after them.
        QCOMPARE(trafficLines(w).mid(0, 3),
                 (QStringList{"1=>PDU01[00:39:28:90:00:10]", "2=>PDU02[00:39:28:90:00:11]",
                              "mac.csv第3行没有用逗号分开的SN和MAC，未载入"}));
    }

    void missingTableStillInitialisesWindow()
    {
        QTest::ignoreMessage(QtDebugMsg, "Failed to open the file");
        MainWindow w;
        QCOMPARE(trafficLines(w).value(0), QStringLiteral("Failed to open the file!"));
        QCOMPARE(MainWindowProbe::macCount(w), 0);

        auto *baud = widget<QComboBox>(w, "comboBoxBaud");
        QCOMPARE(baud->count(), 11);
        QCOMPARE(baud->currentText(), QStringLiteral("9600"));
        QCOMPARE(widget<QComboBox>(w, "comboBoxData")->currentText(), QStringLiteral("8位"));
        QCOMPARE(widget<QComboBox>(w, "comboBoxParity")->currentText(), QStringLiteral("无校验"));
        QCOMPARE(widget<QComboBox>(w, "comboBoxStop")->currentText(), QStringLiteral("1位"));
        QCOMPARE(widget<QSpinBox>(w, "spinBoxInterval")->value(), 1000);
        QCOMPARE(widget<QTreeWidget>(w, "treeWidget")->topLevelItem(0)->text(0),
                 QStringLiteral("所有"));

        auto *sn = widget<QLineEdit>(w, "lineEdit_sn");
        sn->setText(QStringLiteral("PDU01"));
        emit sn->editingFinished();
        QCOMPARE(resultLines(w).value(0), QStringLiteral("sn=PDU01 not find!!!"));
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QString>("mac");

        // Enter raises returnPressed and editingFinished: one lookup, one block of lines.
        QTest::newRow("first row: index 0")
            << "PDU01" << QStringList{"idx=0 sn=PDU01=>[00:39:28:90:00:10]"} << "00:39:28:90:00:10";
        QTest::newRow("duplicate serial number: first row wins")
            << "PDU02" << QStringList{"idx=1 sn=PDU02=>[00:39:28:90:00:11]"} << "00:39:28:90:00:11";
        QTest::newRow("address with a trailing tab: taken without it")
            << "PDU04" << QStringList{"idx=3 sn=PDU04=>[00:39:28:90:00:12]"} << "00:39:28:90:00:12";
        // No lookup put the field's address there: it stays.
        QTest::newRow("trailing space: not found")
            << "PDU01 " << QStringList{"sn=PDU01  not find!!!"} << "00:39:28:90:00:00";
        QTest::newRow("other letter case: not found")
            << "pdu01" << QStringList{"sn=pdu01 not find!!!"} << "00:39:28:90:00:00";
        // A scanned serial number is text, never markup in the result window.
        QTest::newRow("markup-like serial number shown as typed")
            << "<b>x&amp;" << QStringList{"sn=<b>x&amp; not find!!!"} << "00:39:28:90:00:00";
    }

    void lookup()
    {
        QFETCH(QString, typed);
        writeFile(QStringLiteral("mac.csv"),
                  "PDU01,00:39:28:90:00:10\nPDU02,00:39:28:90:00:11\n"
                  "PDU02,00:39:28:90:00:99\nPDU04,00:39:28:90:00:12\t\n");
        MainWindow w;
        auto *sn = widget<QLineEdit>(w, "lineEdit_sn");
        sn->setText(typed);
        QTest::keyClick(sn, Qt::Key_Return);
        emit sn->editingFinished(); // leaving the field with the text unchanged
        QTEST(resultLines(w), "results");
        QTEST(widget<QLineEdit>(w, "lineEdit_wrmac")->text(), "mac");
    }

    // What the engineer does at the serial-number field, step by step:
    // "sn:TEXT" types it, "enter" presses Enter, "leave" leaves the field,
    // "mac:TEXT" types an address into the address field.
    void lookupOnEveryEnter_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QString>("mac"); // the address field at the end

        const QString found = QStringLiteral("idx=0 sn=PDU01=>[00:39:28:90:00:10]");
        const QString miss = QStringLiteral("sn=PDU99 not find!!!");
        QTest::newRow("the same label scanned again: looked up again")
            << QStringList{"sn:PDU01", "enter", "enter"} << QStringList{found, found}
            << "00:39:28:90:00:10";
        QTest::newRow("Enter, then leaving the field: once")
            << QStringList{"sn:PDU01", "enter", "leave"} << QStringList{found}
            << "00:39:28:90:00:10";
        QTest::newRow("typed and left without Enter: looked up")
            << QStringList{"sn:PDU01", "leave"} << QStringList{found} << "00:39:28:90:00:10";
        QTest::newRow("a miss empties the address the last lookup put there")
            << QStringList{"sn:PDU01", "enter", "sn:PDU99", "enter"}
            << QStringList{found, miss, "mac.csv中没有该SN，已清空待写MAC地址"} << "";
        QTest::newRow("a miss keeps an address typed after the lookup")
            << QStringList{"sn:PDU01", "enter", "mac:003928900077", "sn:PDU99", "enter"}
            << QStringList{found, miss} << "00:39:28:90:00:77";
        QTest::newRow("an empty serial number looks nothing up")
            << QStringList{"sn:PDU01", "enter", "sn:", "enter", "leave"} << QStringList{found}
            << "00:39:28:90:00:10";
    }

    void lookupOnEveryEnter()
    {
        QFETCH(QStringList, steps);
        writeFile(QStringLiteral("mac.csv"), "PDU01,00:39:28:90:00:10\n");
        MainWindow w;
        auto *sn = widget<QLineEdit>(w, "lineEdit_sn");
        auto *address = widget<QLineEdit>(w, "lineEdit_wrmac");
        for (const QString &step : qAsConst(steps)) {
            if (step.startsWith(QLatin1String("sn:"))) {
                sn->setText(step.mid(3));
            } else if (step.startsWith(QLatin1String("mac:"))) {
                address->clear();
                QTest::keyClicks(address, step.mid(4));
            } else if (step == QLatin1String("enter")) {
                QTest::keyClick(sn, Qt::Key_Return);
            } else {
                emit sn->editingFinished(); // as focus leaving the field raises it
            }
        }
        QTEST(resultLines(w), "results");
        QTEST(QString(address->text()).remove(QLatin1Char(':')).isEmpty() ? QString()
                                                                          : address->text(),
              "mac");
    }

    // Text from the file is not taken for markup in the traffic window.
    void markupLikeRowsShowAsWritten()
    {
        writeFile(QStringLiteral("mac.csv"), "<b>A</b>,&lt;m&gt;\n");
        MainWindow w;
        QCOMPARE(trafficLines(w).value(0), QStringLiteral("1=><b>A</b>[&lt;m&gt;]"));
    }
};

QTEST_MAIN(tst_MacTable)
#include "tst_mactable.moc"
