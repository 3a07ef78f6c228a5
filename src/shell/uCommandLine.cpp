#include "uCommandLine.h"

#include "uConst.h"

#include <cstdio>
#include <cstring>

QString UsageText() {
    return QStringLiteral("Usage: quorvantis [show | SHOP-NAME]\n"
                          "       quorvantis --help | --version\n"
                          "\n"
                          "Starts the Quorvantis tray program: a menu of online shops in the notification area.\n"
                          "Only one instance runs per user. Started again, the program hands its first argument\n"
                          "over to the running instance and ends at once:\n"
                          "  (none), show  the running instance pops its menu up\n"
                          "  SHOP-NAME     the running instance opens every shop of that name\n"
                          "                (letter case does not matter)\n"
                          "\n"
                          "Options:\n"
                          "  --help        show this text and end\n"
                          "  --version     show the program version and end\n"
                          "\n"
                          "Exit status: 0 when the program ended normally or the running instance received\n"
                          "the command; 1 when the command could not be handed over (the reason goes to\n"
                          "stderr).\n"
                          "\n"
                          "Version %1\n")
        .arg(QString::fromUtf8(ProgramVersion));
}

std::optional<int> AnswerInformationOption(int argc, char** argv) {
    if (argc < 2 || !argv[1])
        return std::nullopt;
    QString Text;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
        Text = UsageText();
    else if (std::strcmp(argv[1], "--version") == 0)
        Text = QStringLiteral("quorvantis %1\n").arg(QString::fromUtf8(ProgramVersion));
    else
        return std::nullopt;
    std::fputs(Text.toLocal8Bit().constData(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
