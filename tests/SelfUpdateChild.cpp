// The program's side of a self-update, run as the program would run it: in a
// process of its own, from the current folder. argv[1] is the program file,
// argv[2] the data server's base URL. A launch that succeeds ends the process
// with 0; otherwise it ends with 100 plus the launch's result.
#include "db/CFundDb.h"
#include "platform/ServerConfig.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    zeza::CFundDb::SetProgramPathForTesting(argv[1]);
    zeza::SetServerBaseUrlForTesting(argv[2]);
    zeza::CFundDb db;
    return 100 + db.LaunchSelfUpdate();
}
