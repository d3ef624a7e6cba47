// The protocol codecs: Modbus frames and CRC, the reply check, the "~" service packets.
// Expected frames are the unit's documented examples or were worked out by hand
// (CRC-16/MODBUS bit by bit, the packet checksum as the two's complement of the
// character sum).
#include "protocol/modbus.h"
#include "protocol/packet.h"
#include "protocol/reply.h"

#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <functional>

#ifdef Q_OS_WIN
#include <io.h> // dup, dup2, close
#else
#include <unistd.h>
#endif

Q_DECLARE_METATYPE(ReplyState)
Q_DECLARE_METATYPE(ReplyVerdict::Outcome)
Q_DECLARE_METATYPE(ReplyKind::Protocol)

namespace {

QByteArray hex(const unsigned char *bytes, int length)
{
    return QByteArray(reinterpret_cast<const char *>(bytes), length).toHex(' ').toUpper();
}

QByteArray normalisedHex(const char *text)
{
    return QByteArray::fromHex(text).toHex(' ').toUpper();
}

const unsigned char *data(const QByteArray &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.constData());
}

// What a call prints on standard output: the codec's diagnostic lines. The
// file is binary, so Windows' C library writes the line ends as they are.
QByteArray capturedStdout(const std::function<void()> &call)
{
    QTemporaryFile file;
    if (!file.open())
        return "temporary file failed";
    file.close();
    std::FILE *sink = std::fopen(QFile::encodeName(file.fileName()).constData(), "w+b");
    if (!sink)
        return "temporary file failed";
    std::fflush(stdout);
    const int out = fileno(stdout);
    const int saved = dup(out);
    dup2(fileno(sink), out);
    call();
    std::fflush(stdout);
    dup2(saved, out);
    close(saved);
    std::fclose(sink);
    return file.open() ? file.readAll() : QByteArray("temporary file failed");
}

} // namespace

class tst_Protocol : public QObject
{
    Q_OBJECT

private slots:
    // ---- Modbus ----

    void crc_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("crc");
        QTest::newRow("check value of 123456789") << QByteArray("123456789") << 0x4B37;
        QTest::newRow("empty run") << QByteArray() << 0xFFFF;
        QTest::newRow("55 03 08 02 00 0A closes with 6B B9")
            << QByteArray::fromHex("55030802000A") << 0xB96B;
    }

    void crc()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, crc);
        QCOMPARE(int(modbus_crc16(data(bytes), bytes.size())), crc);
    }

    void eightByteFrames_data()
    {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("module");
        QTest::addColumn<int>("base");
        QTest::addColumn<int>("operand"); // register count or value
        QTest::addColumn<QByteArray>("frame");
        const auto row = [](int function, int module, int base, int operand, const char *frame) {
            QTest::newRow(frame) << function << module << base << operand << normalisedHex(frame);
        };
        row(0x03, 0, 0x0802, 10, "55 03 08 02 00 0A 6B B9");
        row(0x03, 0, 0x0704, 1, "55 03 07 04 00 01 C9 6B");
        row(0x03, 0, 0x080F, 4, "55 03 08 0F 00 04 7B BE");
        row(0x03, 10, 0x0704, 1, "55 03 A7 04 00 01 EB 6B");
        row(0x06, 0, 0x0802, 0, "55 06 08 02 00 00 27 BE");
        row(0x06, 1, 0x0802, 0, "55 06 18 02 00 00 23 7E");
        row(0x06, 10, 0x0802, 0, "55 06 A8 02 00 00 05 BE");
        row(0x06, 1, 0x0805, 575, "55 06 18 05 02 3F D3 CF");
    }

    void eightByteFrames()
    {
        QFETCH(int, function);
        QFETCH(int, module);
        QFETCH(int, base);
        QFETCH(int, operand);
        QFETCH(QByteArray, frame);
        const quint16 reg = ::moduleRegister(module, quint16(base));
        if (function == 0x03) {
            unsigned char buffer[10];
            std::memset(buffer, 0xAA, sizeof buffer);
            QCOMPARE(make_read_frame(buffer, kBusAddress, reg, quint16(operand)), 8);
            QCOMPARE(hex(buffer, 8), frame);
            QCOMPARE(int(buffer[8]), 0xAA); // nothing past the frame
        } else {
            QCOMPARE(make_write_single_frame(kBusAddress, reg, quint16(operand)), 8);
            QCOMPARE(hex(requestFrame, 8), frame);
        }
    }

    void writeMultiFrame_data()
    {
        QTest::addColumn<int>("module");
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("clock 2026-12-06 04:05:09, module 0")
            << 0 << QByteArray::fromHex("07EA0C0604050900")
            << normalisedHex("5510080F00040807EA0C06040509007C9C");
        QTest::newRow("the same on module 1 starts at 0x180F")
            << 1 << QByteArray::fromHex("07EA0C0604050900")
            << normalisedHex("5510180F00040807EA0C0604050900420C");
    }

    void writeMultiFrame()
    {
        QFETCH(int, module);
        QFETCH(QByteArray, block);
        QFETCH(QByteArray, frame);
        QCOMPARE(make_write_multi_frame(kBusAddress, ::moduleRegister(module, 0x080F), 4,
                                        block.size(), data(block)),
                 17);
        QCOMPARE(hex(requestFrame, 17), frame);
    }

    void writeMultiLargestFrame()
    {
        unsigned char block[kMaxMultiDataBytes];
        for (int i = 0; i < kMaxMultiDataBytes; ++i)
            block[i] = quint8(i * 7 + 3);
        QCOMPARE(make_write_multi_frame(kBusAddress, 0x0808, 123, kMaxMultiDataBytes, block), 255);
        QCOMPARE(hex(requestFrame, 7), normalisedHex("55 10 08 08 00 7B F6"));
        QVERIFY(std::memcmp(requestFrame + 7, block, sizeof block) == 0);
        const quint16 crc = modbus_crc16(requestFrame, 253);
        QCOMPARE(requestFrame[253], quint8(crc));
        QCOMPARE(requestFrame[254], quint8(crc >> 8));
    }

    void writeMultiRefusesTooMuch_data()
    {
        QTest::addColumn<int>("n");
        QTest::newRow("247 bytes") << 247;
        QTest::newRow("negative") << -1;
    }

    void writeMultiRefusesTooMuch()
    {
        QFETCH(int, n);
        unsigned char block[300] = {};
        std::memset(requestFrame, 0x5A, sizeof requestFrame);
        QCOMPARE(make_write_multi_frame(kBusAddress, 0x0808, 123, n, block), 0);
        for (unsigned char byte : requestFrame)
            QCOMPARE(int(byte), 0x5A);
    }

    void modbusReply_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("function");
        QTest::addColumn<ReplyState>("state");

        const auto row = [](const char *name, const char *bytes, int function, ReplyState state) {
            QTest::newRow(name) << QByteArray::fromHex(bytes) << function << state;
        };
        row("read answer 55 03 02 00 02 08 49", "55030200020849", 0x03, ReplyState::Answer);
        row("clock answer, 8 data bytes", "55030807EA030F0C1E2D00A1FA", 0x03, ReplyState::Answer);
        row("write echo 55 06 08 02 00 00 27 BE", "55060802000027BE", 0x06, ReplyState::Answer);
        row("multi answer 55 10 08 0F 00 04 FE 7D", "5510080F0004FE7D", 0x10, ReplyState::Answer);
        row("exception 02 to a read", "5583028121", 0x03, ReplyState::Exception);
        row("exception 01 to a write", "558601C270", 0x06, ReplyState::Exception);

        row("nothing yet", "", 0x03, ReplyState::Incomplete);
        row("address only", "55", 0x03, ReplyState::Incomplete);
        row("function, no byte count", "5503", 0x03, ReplyState::Incomplete);
        row("read one byte short", "550302000208", 0x03, ReplyState::Incomplete);
        row("echo one byte short", "55060802000027", 0x06, ReplyState::Incomplete);
        row("exception one byte short", "55830281", 0x03, ReplyState::Incomplete);

        row("another station", "56", 0x03, ReplyState::Invalid);
        row("another function", "5506", 0x03, ReplyState::Invalid);
        row("exception to another function", "558601C270", 0x03, ReplyState::Invalid);
        row("read answer, bad CRC", "55030200020848", 0x03, ReplyState::Invalid);
        row("read answer plus a byte", "5503020002084900", 0x03, ReplyState::Invalid);
        row("echo plus a byte", "55060802000027BE00", 0x06, ReplyState::Invalid);
        row("exception, bad CRC", "5583028120", 0x03, ReplyState::Invalid);
        row("exception plus a byte", "558302812100", 0x03, ReplyState::Invalid);
        row("a function of unknown reply length", "552B0E01A440", 0x2B, ReplyState::Invalid);
    }

    void modbusReply()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, function);
        QFETCH(ReplyState, state);
        QCOMPARE(checkModbusReply(data(bytes), bytes.size(), kBusAddress, quint8(function)), state);
        const ReplyKind kind{ReplyKind::Modbus, kBusAddress, quint8(function)};
        QCOMPARE(checkReply(kind, data(bytes), bytes.size()), state);
    }

    // echo: what a line that hands every request back returns first (empty:
    // a line without echo); reply: where the unit's reply is found then.
    void verdict_data()
    {
        QTest::addColumn<ReplyKind::Protocol>("protocol");
        QTest::addColumn<int>("function");
        QTest::addColumn<QByteArray>("echo");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ReplyVerdict::Outcome>("outcome");
        QTest::addColumn<int>("exceptionCode");
        QTest::addColumn<bool>("echoFault");
        QTest::addColumn<QByteArray>("reply");

        const auto row = [](const char *name, ReplyKind::Protocol protocol, int function,
                            const QByteArray &bytes, ReplyVerdict::Outcome outcome, int code) {
            QTest::newRow(name) << protocol << function << QByteArray() << bytes << outcome << code
                                << false << bytes;
        };
        const auto echoed
            = [](const char *name, ReplyKind::Protocol protocol, const QByteArray &request,
                 const QByteArray &bytes, ReplyVerdict::Outcome outcome, int code, bool echoFault,
                 const QByteArray &reply) {
                  const int function = protocol == ReplyKind::Modbus ? quint8(request.at(1)) : 0;
                  QTest::newRow(name) << protocol << function << request << bytes << outcome << code
                                      << echoFault << reply;
              };
        const auto modbus = [](const char *hex) { return QByteArray::fromHex(hex); };
        row("silence", ReplyKind::Modbus, 0x03, QByteArray(), ReplyVerdict::NoReply, 0);
        row("too little arrived", ReplyKind::Modbus, 0x03, modbus("550302"), ReplyVerdict::NoReply,
            0);
        row("answer", ReplyKind::Modbus, 0x03, modbus("55030200020849"), ReplyVerdict::Answer, 0);
        row("exception 02 is named", ReplyKind::Modbus, 0x03, modbus("5583028121"),
            ReplyVerdict::Exception, 2);
        row("bad CRC", ReplyKind::Modbus, 0x06, modbus("55060802000027BF"), ReplyVerdict::Invalid,
            0);
        row("service frame", ReplyKind::Service, 0, "~21012A500000FDA4\r", ReplyVerdict::Answer, 0);
        row("service frame, bad checksum", ReplyKind::Service, 0, "~21012A500000FDA5\r",
            ReplyVerdict::Invalid, 0);
        row("service frame unfinished", ReplyKind::Service, 0, "~2101", ReplyVerdict::NoReply, 0);
        row("nothing awaited", ReplyKind::None, 0, modbus("55030200020849"), ReplyVerdict::NoReply,
            0);

        const QByteArray read = modbus("55 03 07 04 00 01 C9 6B");
        const QByteArray answer = modbus("55 03 02 00 01 48 48");
        const QByteArray close = modbus("55 06 08 02 00 00 27 BE");
        const QByteArray readMac = "~210156980000FDA0\r";
        const QByteArray macAnswer = "~21012A500000FDA4\r";
        const auto M = ReplyKind::Modbus;
        // clang-format off
        echoed("echo 55 03 07 04 00 01 C9 6B, then the answer", M, read, read + answer,
               ReplyVerdict::Answer, 0, false, answer);
        echoed("write 55 06 08 02 00 00 27 BE: its echo alone is no answer", M, close, close,
               ReplyVerdict::NoReply, 0, false, QByteArray());
        echoed("service: echo, then the packet", ReplyKind::Service, readMac, readMac + macAnswer,
               ReplyVerdict::Answer, 0, false, macAnswer);
        echoed("echo cut short: 55 03 07 04", M, read, modbus("55030704"), ReplyVerdict::Invalid, 0,
               true, QByteArray());
        echoed("echo with its last byte inverted: ... C9 94, then the answer", M, read,
               modbus("55 03 07 04 00 01 C9 94") + answer, ReplyVerdict::Invalid, 0, true, QByteArray());
        echoed("no echo where one is awaited: the answer alone", M, read, answer,
               ReplyVerdict::Invalid, 0, true, QByteArray());
        // clang-format on
    }

    void verdict()
    {
        QFETCH(ReplyKind::Protocol, protocol);
        QFETCH(int, function);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, echo);
        QFETCH(ReplyVerdict::Outcome, outcome);
        QFETCH(int, exceptionCode);
        QFETCH(bool, echoFault);
        QFETCH(QByteArray, reply);
        const ReplyKind kind{protocol, kBusAddress, quint8(function)};
        const ReplyVerdict verdict
            = echo.isEmpty()
                  ? judgeReply(kind, data(bytes), bytes.size())
                  : judgeEchoedReply(kind, data(echo), echo.size(), data(bytes), bytes.size());
        QCOMPARE(verdict.outcome, outcome);
        QCOMPARE(int(verdict.exceptionCode), exceptionCode);
        QCOMPARE(verdict.ok(), outcome == ReplyVerdict::Answer);
        QCOMPARE(verdict.echoFault, echoFault);
        QCOMPARE(failureReason(verdict) == QStringLiteral("回显不符"), echoFault);
        const EchoSplit split = splitEcho(data(echo), echo.size(), data(bytes), bytes.size());
        if (!echoFault)
            QCOMPARE(bytes.mid(split.replyStart).toHex(' '), reply.toHex(' '));
    }

    // Frames with their CRCs worked out by hand; the echo is judged on
    // register and value (06) or start register and count (10h) alone.
    void writeEcho_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("echoes");

        const QByteArray close1 = "55 06 18 02 00 00 23 7E";
        const QByteArray clock = "55 10 08 0F 00 04 08 07 EA 03 0F 0C 1E 2D 00 C9 05";
        // clang-format off
        QTest::newRow("06 echoed: 55 06 18 02 00 00 23 7E") << close1 << close1 << true;
        QTest::newRow("06, the next register: 55 06 18 03 00 00 72 BE")
            << close1 << QByteArray("55 06 18 03 00 00 72 BE") << false;
        QTest::newRow("06, another value: 55 06 18 02 00 01 E2 BE")
            << close1 << QByteArray("55 06 18 02 00 01 E2 BE") << false;
        QTest::newRow("06, another module: 55 06 28 02 00 00 2C 7E")
            << close1 << QByteArray("55 06 28 02 00 00 2C 7E") << false;
        QTest::newRow("06, cut after the register: 55 06 18 02")
            << close1 << QByteArray("55 06 18 02") << false;
        QTest::newRow("06, exception 02 carries no echo: 55 86 02 82 71")
            << close1 << QByteArray("55 86 02 82 71") << true;
        QTest::newRow("10h echoed: 55 10 08 0F 00 04 FE 7D")
            << clock << QByteArray("55 10 08 0F 00 04 FE 7D") << true;
        QTest::newRow("10h, three registers: 55 10 08 0F 00 03 BF BF")
            << clock << QByteArray("55 10 08 0F 00 03 BF BF") << false;
        QTest::newRow("10h, another start: 55 10 08 10 00 04 CF BB")
            << clock << QByteArray("55 10 08 10 00 04 CF BB") << false;
        QTest::newRow("03 read: no echo to check")
            << QByteArray("55 03 08 02 00 0A 6B B9") << QByteArray("55 03 02 00 00 89 88") << true;
        // clang-format on
    }

    void writeEcho()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(bool, echoes);
        const QByteArray req = QByteArray::fromHex(request);
        const QByteArray rep = QByteArray::fromHex(reply);
        QCOMPARE(replyEchoesRequest(data(req), req.size(), data(rep), rep.size()), echoes);
    }

    void codeTexts_data()
    {
        QTest::addColumn<bool>("service");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("exception 01") << false << 0x01 << QString("01 非法功能");
        QTest::newRow("exception 02") << false << 0x02 << QString("02 非法数据地址");
        QTest::newRow("exception 0B") << false << 0x0B << QString("0B 网关目标设备无响应");
        QTest::newRow("exception 07 has no name") << false << 0x07 << QString("07");
        QTest::newRow("return code 00") << true << 0x00 << QString("00 正常");
        QTest::newRow("return code 02") << true << 0x02 << QString("02 CHKSUM错");
        QTest::newRow("return code 06") << true << 0x06 << QString("06 无效数据");
        QTest::newRow("return code E0 has no name") << true << 0xE0 << QString("E0");
    }

    void codeTexts()
    {
        QFETCH(bool, service);
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(service ? returnCodeText(quint8(code)) : exceptionText(quint8(code)), text);
    }

    // ---- Service packets ----

    void request_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QByteArray>("info");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("diagnostic");
        const QByteArray noData("[get_dz_wr_pak:370]: send_packet.len = 0\n\r");
        QTest::newRow("read MAC") << 0x98 << QByteArray() << QByteArray("~210156980000FDA0\r")
                                  << noData;
        QTest::newRow("factory defaults")
            << 0x97 << QByteArray() << QByteArray("~210156970000FDA1\r") << noData;
        QTest::newRow("write MAC, LENGTH 400C")
            << 0x99 << QByteArray::fromHex("0039289000FF")
            << QByteArray("~21015699400C0039289000FFFAFD\r")
            << QByteArray("[get_dz_wr_pak:370]: send_packet.len = 6\n\r");
        QTest::newRow("command taken from the low 8 bits")
            << 0x198 << QByteArray() << QByteArray("~210156980000FDA0\r") << noData;
    }

    void request()
    {
        QFETCH(int, command);
        QFETCH(QByteArray, info);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, diagnostic);
        std::memset(send_buf, 0x5A, sizeof send_buf);
        int result = -1;
        const QByteArray printed = capturedStdout(
            [&] { result = get_dz_wr_pak(command, data(info), unsigned(info.size())); });
        QCOMPARE(result, 0);
        QCOMPARE(printed, diagnostic);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(send_buf), send_len), frame);
        QCOMPARE(int(send_buf[send_len]), 0); // the rest of the buffer was cleared
    }

    void requestTooLong_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("sendLen");
        QTest::newRow("756 bytes fill send_buf exactly") << 756 << 1530;
        QTest::newRow("757 bytes do not fit send_buf") << 757 << 0;
        QTest::newRow("2000 bytes do not fit the record") << 2000 << 0;
    }

    void requestTooLong()
    {
        QFETCH(int, length);
        QFETCH(int, sendLen);
        QByteArray info(length, '\x11');
        std::memset(send_buf, 0x5A, sizeof send_buf);
        capturedStdout([&] { get_dz_wr_pak(0x99, data(info), unsigned(length)); });
        QCOMPARE(send_len, sendLen);
        if (sendLen == 0) {
            for (unsigned char byte : send_buf)
                QCOMPARE(int(byte), 0);
        } else {
            QCOMPARE(char(send_buf[0]), '~');
            QCOMPARE(char(send_buf[sendLen - 1]), '\r');
        }
    }

    void roundTrip_data()
    {
        QTest::addColumn<int>("infoBytes");
        QTest::addColumn<int>("lengthField");
        QTest::newRow("no INFO, LENGTH 0000") << 0 << 0x0000;
        QTest::newRow("1 byte, LENGTH E002") << 1 << 0xE002;
        QTest::newRow("6 bytes, LENGTH 400C") << 6 << 0x400C;
        QTest::newRow("100 bytes, LENGTH C0C8") << 100 << 0xC0C8;
        QTest::newRow("255 bytes, LENGTH 21FE") << 255 << 0x21FE;
    }

    void roundTrip()
    {
        QFETCH(int, infoBytes);
        QFETCH(int, lengthField);
        QByteArray info;
        for (int i = 0; i < infoBytes; ++i)
            info.append(char(i * 37 + 11));
        capturedStdout([&] { get_dz_wr_pak(0x99, data(info), unsigned(infoBytes)); });
        QCOMPARE(send_len, 2 * infoBytes + 18);

        QByteArray out(infoBytes + 10, '\0');
        int outLength = -1;
        const int ok
            = packet_parse(send_buf, send_len, reinterpret_cast<unsigned char *>(out.data()),
                           out.size(), &outLength);
        QCOMPARE(ok, 1);
        QCOMPARE(outLength, infoBytes + 10);
        QCOMPARE(out.left(7).toHex().toUpper(),
                 QByteArray("7E21015699")
                     + QByteArray::number(lengthField, 16).rightJustified(4, '0').toUpper());
        QCOMPARE(out.mid(7, infoBytes), info);
        QCOMPARE(out.at(outLength - 1), '\r');
        // CHKSUM makes the character sum vanish modulo 65536.
        int sum = 0;
        for (int i = 1; i < send_len - 5; ++i)
            sum += send_buf[i];
        const int chksum = (quint8(out.at(infoBytes + 7)) << 8) | quint8(out.at(infoBytes + 8));
        QCOMPARE((sum + chksum) % 0x10000, 0);
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<int>("outCap");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("outLength");  // -1: left as it was
        QTest::addColumn<QByteArray>("out"); // empty: not compared

        const QByteArray clean("~21012A500000FDA4\r");
        const QByteArray decoded = normalisedHex("7E21012A500000FDA40D");
        QTest::newRow("a unit's frame, checksum good") << clean << 64 << 1 << 10 << decoded;
        QTest::newRow("garbage around the frame")
            << QByteArray("\x01\x02xy") + clean + QByteArray("zz\x03") << 64 << 1 << 10 << decoded;
        QTest::newRow("lower-case digits decode as 0 and fail")
            << QByteArray("~21012a500000fda4\r") << 64 << 0 << 10
            << normalisedHex("7E21012050000000040D");
        QTest::newRow("two frames are one span and fail")
            << QByteArray("~210156980000FDA0\r~210156970000FDA1\r") << 64 << 0 << 19
            << QByteArray();
        QTest::newRow("span below 6 fails")
            << QByteArray("~12\r") << 64 << 0 << 3 << normalisedHex("7E120D");
        QTest::newRow("no carriage return")
            << QByteArray("~21012A500000FDA4") << 64 << 0 << -1 << QByteArray();
        QTest::newRow("carriage return before the ~")
            << QByteArray("\r~21012A") << 64 << 0 << -1 << QByteArray();
        QTest::newRow("empty input") << QByteArray() << 64 << 0 << -1 << QByteArray();
        QTest::newRow("output one byte too small") << clean << 9 << 0 << -1 << QByteArray();
        QTest::newRow("output just big enough") << clean << 10 << 1 << 10 << decoded;
    }

    void parse()
    {
        QFETCH(QByteArray, in);
        QFETCH(int, outCap);
        QFETCH(int, result);
        QFETCH(int, outLength);
        QFETCH(QByteArray, out);

        QByteArray buffer(80, '\x5A');
        int length = -1;
        int ok = -1;
        capturedStdout([&] {
            ok = packet_parse(data(in), in.size(), reinterpret_cast<unsigned char *>(buffer.data()),
                              outCap, &length);
        });
        QCOMPARE(ok, result);
        QCOMPARE(length, outLength);
        if (!out.isEmpty())
            QCOMPARE(hex(data(buffer), length), out);
        if (outLength < 0)
            QCOMPARE(buffer, QByteArray(80, '\x5A')); // nothing written
        else
            QCOMPARE(buffer.at(outLength), '\x5A'); // nothing past the output
    }

    void parseDiagnostic_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("checksum one off")
            << QByteArray("~21012A500000FDA5\r")
            << QByteArray("[packet_parse:205]: calc_chksum:fda4 not equ recv_chksum:fda5 error,"
                          "inLen:18 outlen:10!!!\r\n");
        QTest::newRow("span below 6 computes 10000")
            << QByteArray("~12\r")
            << QByteArray("[packet_parse:205]: calc_chksum:10000 not equ recv_chksum:12 error,"
                          "inLen:4 outlen:3!!!\r\n");
        QTest::newRow("a good frame prints nothing")
            << QByteArray("~21012A500000FDA4\r") << QByteArray();
        QTest::newRow("no frame prints nothing") << QByteArray("21012A") << QByteArray();
    }

    void parseDiagnostic()
    {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, line);
        unsigned char out[64];
        int length = 0;
        QCOMPARE(
            capturedStdout([&] { packet_parse(data(in), in.size(), out, sizeof out, &length); }),
            line);
    }

    void serviceReply_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<ReplyState>("state");
        QTest::newRow("nothing yet") << QByteArray() << ReplyState::Incomplete;
        QTest::newRow("frame begun") << QByteArray("~21012A5000") << ReplyState::Incomplete;
        QTest::newRow("garbage with a CR, no ~") << QByteArray("xy\r") << ReplyState::Incomplete;
        QTest::newRow("complete frame") << QByteArray("~21012A500000FDA4\r") << ReplyState::Answer;
        QTest::newRow("garbage before the frame")
            << QByteArray("\x01\x7F~21012A500000FDA4\r") << ReplyState::Answer;
        QTest::newRow("wrong checksum") << QByteArray("~21012A500000FDA5\r") << ReplyState::Invalid;
        QTest::newRow("lower-case digits")
            << QByteArray("~21012a500000fda4\r") << ReplyState::Invalid;
    }

    void serviceReply()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(ReplyState, state);
        QCOMPARE(checkServiceReply(data(bytes), bytes.size()), state);
    }
};

QTEST_APPLESS_MAIN(tst_Protocol)
#include "tst_protocol.moc"
