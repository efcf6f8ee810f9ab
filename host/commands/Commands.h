// The commands of filterhost, one room each. Each takes the command line as
// it stands (argv[1] is the command's word) and returns the exit status.
#pragma once

namespace commands {

int List(int argc, char **argv);     // what a host's filter menu shows for modules
int About(int argc, char **argv);    // the module's about box
int Run(int argc, char **argv);      // one image through the module
int Batch(int argc, char **argv);    // many images, in worker processes
int Serve(int argc, char **argv);    // a batch's worker
int Convert(int argc, char **argv);  // an image file into another format or depth

} // namespace commands
