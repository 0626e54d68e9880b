// The test server, by hand: a maker's web server on 127.0.0.1 that announces a
// newer version and accepts feedback, so the notice and the feedback window
// can be watched end to end. See README.md ("Trying the online services").

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <exception>

#include "support/maker_server.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A maker's web server on 127.0.0.1 for trying Corvexa."));
    parser.addHelpOption();
    const QCommandLineOption port({"p", "port"}, "Port to listen on (default: any free one).",
                                  "port", "0");
    const QCommandLineOption version("version", "Version the update check reports.", "text", "9.9");
    const QCommandLineOption url("url", "Download link the update check reports.", "address",
                                 "https://www.kelmare.example/download/");
    const QCommandLineOption message("message", "Server message shown in a box before the notice.",
                                     "text");
    const QCommandLineOption feedback("feedback", "Reply to feedback (OK means received).", "text",
                                      "OK");
    parser.addOptions({port, version, url, message, feedback});
    parser.process(app);
    try {
        corvexa::test::MakerServer server(static_cast<quint16>(parser.value(port).toUInt()));
        corvexa::test::ServerReply check;
        check.body = corvexa::test::CheckReply(parser.value(version), parser.value(url),
                                               QStringLiteral("1"), parser.value(message));
        server.SetReply("/php/check2.php", check);
        corvexa::test::ServerReply received;
        received.body = parser.value(feedback).toUtf8() + "\n";
        server.SetReply("/php/feedback.php", received);
        QTextStream out(stdout);
        out << "Listening on " << server.Host() << " (HTTP and HTTPS on one port).\n"
            << "Certificate: " << server.CertificateFile() << "\n"
            << "Start the program with:\n  CORVEXA_MAKER_CA=" << server.CertificateFile()
            << " CORVEXA_MAKER_HOST=" << server.Host() << " ./build/bin/corvexa\n"
            << Qt::flush;
        return app.exec();
    } catch (const std::exception& e) {
        QTextStream(stderr) << e.what() << "\n";
        return 1;
    }
}
