// filterhost: runs a filter module the way a real host does, from the
// command line, and tells what happened in plain words.
#include <cstring>
#include <string>
#include <vector>

#include "host/commands/Commands.h"
#include "host/commands/Options.h"
#include "host/files/FileSystem.h"

namespace {

// The command of each word.
struct Command {
    const char *word;
    int (*entry)(int argc, char **argv);
};
const Command kCommands[] = {
    {"list", commands::List},   {"about", commands::About}, {"run", commands::Run},
    {"batch", commands::Batch}, {"serve", commands::Serve}, {"convert", commands::Convert},
};

int Main(int argc, char **argv)
{
    if (argc >= 2)
        for (const Command &command : kCommands)
            if (std::strcmp(argv[1], command.word) == 0)
                return command.entry(argc, argv);
    commands::Usage();
    return 2;
}

} // namespace

// The arguments are taken as the system gives them, in wide characters, and
// go on as UTF-8.
int main()
{
    std::vector<std::string> arguments = files::Arguments();
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return Main(int(arguments.size()), argv.data());
}
