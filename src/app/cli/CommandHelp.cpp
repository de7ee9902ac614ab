#include "app/cli/CommandHelp.h"

#include <array>

namespace snipjar {

namespace {

using Command = CommandLine::Command;

struct Topic {
    Command command;
    const char* summary;
    const char* details;
};

const std::array<Topic, 23> topics{{
    {Command::list, "print the history, newest first",
     "Prints one row per clip: id, kind, title, computer, pinned, created time and whether the clip\n"
     "is local-only or synced, separated by tabs.\n\n"
     "  --json          print a JSON array, one object per row (fields below)\n"
     "  -0              end each row with a NUL byte instead of a line feed\n"
     "  --limit N       print at most N rows\n"
     "  --kind KIND     only clips of this kind: text, image, file or rich\n"
     "  --pinned        only pinned clips\n"
     "  --device NAME   only clips copied on this computer (its name or id)\n"
     "  --since DATE    only clips copied then or later: 2026-12-08 (from the start of the day)\n"
     "                  or 2026-12-08T14:30 (local time unless an offset such as Z is given)\n"
     "  --until DATE    only clips copied before then (a date alone: up to the end of that day)\n"
     "\n"
     "JSON fields: id, kind (text, richText, image or file), title, device (the computer's id),\n"
     "deviceName, pinned, createdAt (UTC, ISO 8601), store (synced or local-only), byteSize, source\n"
     "(the application it was copied from, empty when unknown).\n"},
    {Command::search, "print the clips whose title matches QUERY",
     "Matches as the search panel does: letter case is ignored, nothing else. Takes the options of\n"
     "list (--json, -0, --limit, --kind, --pinned, --device, --since, --until).\n"},
    {Command::show, "write a clip's content to standard output",
     "Text is written as UTF-8, rich text as its plain text, an image as its bytes and files as their\n"
     "paths, one a line. ID may be any unambiguous prefix of a clip's id, or a position in list's\n"
     "order: @0 is the clip copied last, @1 the one before (so do copy, paste, pin, unpin, delete).\n\n"
     "  --raw           write the stored bytes as they are (RTF, file URLs)\n"
     "  --mime TYPE     write the bytes the clip holds as TYPE, as a paste offers them: text/plain,\n"
     "                  text/html (HTML copied with the text), text/rtf, the image's type,\n"
     "                  text/uri-list\n"
     "  --list-types    print the MIME types the clip holds, one a line\n"
     "  --json          with --list-types: a JSON array of {\"type\", \"size\"} (size in bytes)\n"
     "  --force         write binary content (an image) to a terminal too; without it, binary\n"
     "                  content is refused there with exit status 2\n"},
    {Command::add, "add a clip from standard input, --text or --file",
     "Reads standard input unless --text or --file is given. The clip is filed as a copy is: the\n"
     "same content moves to the top instead of being added twice. Text must be UTF-8 without NUL\n"
     "bytes; nothing over 50 MB is kept. Prints the id of the clip.\n\n"
     "  --kind KIND     what standard input holds: text (the default), rich (RTF) or image\n"
     "  --mime TYPE     read standard input as TYPE: text/plain, text/html (filed as text with\n"
     "                  the HTML kept beside it), text/rtf or an image type such as image/png\n"
     "  --text STRING   add STRING as a text clip\n"
     "  --file PATH...  add the files as one file clip (kept on this computer only)\n"},
    {Command::copy, "put a clip on the clipboard",
     "With Snipjar running, it serves the clipboard. Otherwise this command serves it itself and\n"
     "stays in the foreground until another program takes the clipboard. Needs a display.\n"},
    {Command::paste, "put a clip on the clipboard and paste it into the active window",
     "Pastes as the panel does. Needs a display.\n"},
    {Command::pin, "pin a clip", "Pinned clips are never removed by the history limits.\n"},
    {Command::unpin, "unpin a clip", "The clip counts against the history limits again.\n"},
    {Command::remove, "delete clips",
     "Deletes every clip given; nothing is deleted when one id is unknown.\n"},
    {Command::clear, "delete the whole history",
     "Asks for confirmation on a terminal.\n\n"
     "  --keep-pinned   keep the pinned clips\n"
     "  --yes           do not ask (needed when standard input is not a terminal)\n"},
    {Command::pause, "stop recording copies for MINUTES (until resume without it)",
     "The running Snipjar records neither copies nor selected text until resume, or until the\n"
     "minutes have passed. The tray shows that recording is paused.\n"},
    {Command::resume, "record copies again", "Ends a pause.\n"},
    {Command::showPanel, "open the search panel of the running Snipjar", ""},
    {Command::showSettings, "open the settings window of the running Snipjar", ""},
    {Command::quit, "quit the running Snipjar", ""},
    {Command::status, "say whether Snipjar runs and how: recording, history, sync",
     "Prints one \"name: value\" line each: running (yes or no), backend (X11 or Wayland), how\n"
     "pasting and the hot key work on this desktop (what it leaves to you), recording (yes, or\n"
     "paused with its end), the clips and bytes of each store (synced, local-only), sync (off,\n"
     "idle, syncing, or the problem it has; \"not running\" without Snipjar) and version.\n\n"
     "  --json          print one JSON object: running, backend, desktop (pasting, hotKey),\n"
     "                  recording, pausedUntil (UTC, ISO 8601, or null), stores (synced and\n"
     "                  local-only, each with clips and bytes), sync (state, problem) and version\n"},
    {Command::config, "read or change a setting, as the settings window does",
     "Without KEY, prints every setting as KEY=VALUE, one a line; with KEY, its value; with KEY and\n"
     "VALUE, sets it with the checks the settings window makes (a value out of range: status 2 and\n"
     "what is allowed). A running Snipjar acts on it at once. The settings:\n"
     "launchAtLogin (true or false), historyLength (1 to 1000), retentionDays (7, 30 or 90),\n"
     "hotKey (Ctrl, Alt or Super with a letter or digit, e.g. Ctrl+Alt+V),\n"
     "keepClipboardWhenOwnerQuits, recordSelectedText and syncEnabled (true or false), and\n"
     "syncServer (an https:// address of a snipjar-server, http:// on this computer only, or \"\"\n"
     "for none; a new server needs sync sign-in).\n"},
    {Command::clipboard, "print what is on the clipboard now, without recording it",
     "Reads the clipboard (or the primary selection) of the display or Wayland compositor this\n"
     "command runs in, whether Snipjar runs or not; text by default. A copy that a password manager\n"
     "marked as secret is not printed (status 1). Needs a display.\n\n"
     "  --primary       the primary selection (the text selected with the mouse)\n"
     "  --mime TYPE     the content of this MIME type as it is offered (text/html, image/png...)\n"},
    {Command::exportHistory, "write the whole history to FILE, one archive",
     "Writes every clip of both stores (pinned clips first, then newest first) with its content and\n"
     "images to FILE, a POSIX tar archive that any tar can list and unpack. Clips the history hides\n"
     "(passwords and other concealed content) are never filed, so never exported. FILE is written\n"
     "as FILE.part, readable by the user only, and renamed into place once complete.\n\n"
     "The archive holds, in this order:\n"
     "  snipjar-export.json      {\"format\": \"snipjar-export\", \"version\": 1, \"app\": VERSION,\n"
     "                           \"clips\": N, \"payloads\": M, \"unreadable\": K}\n"
     "  payloads/I.text|rich|image   the content of the clip on line I (from 0): UTF-8 text, RTF,\n"
     "                           image bytes\n"
     "  clips.jsonl              one JSON object a line: the fields of list --json plus dedupKey,\n"
     "                           sourceApp, sourceName, dataType, files, pixelWidth, pixelHeight and\n"
     "                           payloads (the size of each content member, by type)\n"},
    {Command::importHistory, "merge an archive written by export into the history",
     "Checks the whole archive first and refuses a damaged, truncated or foreign one without\n"
     "changing anything. Then files each clip as a copy is filed, with its pinned state and the\n"
     "time it was copied; content the history already holds is skipped, so importing twice adds\n"
     "nothing. Prints how many clips were imported and skipped.\n"},
    {Command::watch, "print a line for every clip as the running Snipjar files it",
     "Prints one row per clip filed from now on (a copy, selected text when it is recorded, a clip\n"
     "added by a command, a copy made again), in list's format, until it is interrupted (exit\n"
     "status 0) or Snipjar quits (exit status 1). Concealed copies (passwords) are never filed, so\n"
     "never shown. Needs a running Snipjar. A watch that stops reading is cut off by Snipjar once\n"
     "4 MB of rows wait for it.\n\n"
     "  --json          print one JSON object per line (JSON Lines), with list --json's fields\n"
     "  --exec COMMAND  run COMMAND with /bin/sh -c for each clip, one at a time, in order, instead\n"
     "                  of printing: standard input holds what show prints for the clip (text,\n"
     "                  the plain text of rich text, file paths, image bytes); the environment holds\n"
     "                  SNIPJAR_ID, SNIPJAR_KIND, SNIPJAR_TITLE, SNIPJAR_DEVICE (the computer's\n"
     "                  name), SNIPJAR_SOURCE and SNIPJAR_CREATED_AT (UTC, ISO 8601). A command\n"
     "                  that fails is reported on standard error and watching goes on\n"},
    {Command::sync, "sign this computer in to a sync server, or out of it",
     "sign-in reads the password of USER from standard input (one line; it is sent to the server and\n"
     "never kept), signs this computer in to the snipjar-server at SERVER and keeps the device token\n"
     "it gives in the keyring (in a private file where there is none). SERVER becomes the syncServer\n"
     "setting; syncEnabled is left as it is. A server whose certificate the system does not trust is\n"
     "refused with its SHA-256 fingerprint: compare it with the one snipjar-server printed, then run\n"
     "sign-in again with it. sign-out revokes this computer's token on the server and forgets it; if\n"
     "the server cannot be reached, it is forgotten here all the same (status 1 says so). A running\n"
     "Snipjar acts on either at once.\n\n"
     "  --trust FINGERPRINT  trust the certificate with this SHA-256 fingerprint (hex, colons optional)\n"},
    {Command::help, "describe a command", "Without a command, lists them all.\n"},
}};

// The option lines of a topic's details ("  --json  print ..." and what continues them), for the overview. A
// paragraph of their own, which help2man makes into a list of options in the manual page.
QString optionLines(const Topic& topic) {
    QString lines;
    bool inOption = false;
    for (const QString& line : QString::fromLatin1(topic.details).split(QLatin1Char('\n'))) {
        // An option's description may go on over lines indented further.
        inOption =
            line.startsWith(QLatin1String("  --")) || (inOption && line.startsWith(QLatin1String("    ")));
        if (inOption) {
            lines += QStringLiteral("       ") + line + QLatin1Char('\n');
        }
    }
    return lines.isEmpty() ? lines : QLatin1Char('\n') + lines + QLatin1Char('\n');
}

const char* exitStatus =
    "Exit status: 0 on success, 1 on a failure (an unknown id, a store that cannot be\n"
    "opened, no display or no running Snipjar where one is needed), 2 on a usage error.\n";

} // namespace

QString CommandHelp::overview() {
    QString text = QStringLiteral(
        "Usage: snipjar [COMMAND [OPTIONS]]\n"
        "Keeps a history of the clipboard and pastes from it.\n\n"
        "Without a command, starts Snipjar in the system tray (or opens the panel of the one that\n"
        "runs). The commands work with the running Snipjar when there is one, and with the history\n"
        "files otherwise. ID is a clip's id as list prints it, or any unambiguous prefix of it.\n\n"
        "Commands:\n");
    for (const Topic& topic : topics) {
        const QString usage = CommandLine::usage(topic.command).mid(QStringLiteral("usage: snipjar ").size());
        text += QStringLiteral("  %1\n         %2\n").arg(usage, QLatin1String(topic.summary));
        text += optionLines(topic);
    }
    text += QStringLiteral(
        "\nlist --json and search --json print one object per row with the fields id, kind,\n"
        "title, device, deviceName, pinned, createdAt, store, byteSize and source; watch --json prints\n"
        "one such object per line.\n");
    text += QStringLiteral("\nOptions:\n"
                           "  -h, --help     show this help and exit\n"
                           "  -v, --version  print the version and exit\n\n"
                           "Every command also takes --help; the snipjar(1) manual page has it all.\n\n");
    text += QLatin1String(exitStatus);
    text += QStringLiteral("\nExamples:\n"
                           "  snipjar list --limit 5\n"
                           "  date | snipjar add\n"
                           "  snipjar search invoice --json\n"
                           "  snipjar pause 5\n"
                           "  snipjar export ~/clips.tar && snipjar import ~/clips.tar\n"
                           "  snipjar watch --exec 'notify-send \"$SNIPJAR_TITLE\"'\n");
    return text;
}

QList<Command> CommandHelp::commands() {
    QList<Command> result;
    for (const Topic& topic : topics) {
        result << topic.command;
    }
    return result;
}

QString CommandHelp::summary(Command command) {
    for (const Topic& topic : topics) {
        if (topic.command == command) {
            return QLatin1String(topic.summary);
        }
    }
    return {};
}

QString CommandHelp::of(Command command) {
    for (const Topic& topic : topics) {
        if (topic.command == command) {
            QString text = CommandLine::usage(command) + QStringLiteral("\n") + CommandLine::name(command) +
                           QStringLiteral(": ") + QLatin1String(topic.summary) + QStringLiteral(".\n");
            if (*topic.details) {
                text += QStringLiteral("\n") + QLatin1String(topic.details);
            }
            return text + QStringLiteral("\n") + QLatin1String(exitStatus);
        }
    }
    return overview();
}

} // namespace snipjar
