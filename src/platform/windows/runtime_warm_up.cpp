// The C++ runtime linked into the DLL sets up its thread-local storage on first use in the
// process, and that setup clears the thread's last error. The engine reads the last error of a
// failed platform call after it has thrown and caught its failure text, and the first throw is
// such a first use; so the setup is done here, when the DLL is loaded.
namespace {

thread_local volatile int t_touched = 0;

struct RuntimeWarmUp {
    RuntimeWarmUp() { t_touched = 1; }
};

const RuntimeWarmUp warmUp;

}  // namespace
