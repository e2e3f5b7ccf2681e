// A stand-in for an encoder program. It reads its standard input and behaves as told by
// options starting with "--fake-", taken from its arguments and from the environment variable
// FAKE_ENCODER (space-separated, for when it is started under a real encoder's name with that
// encoder's arguments). Other arguments are ignored.
//   --fake-out=PATH        copy the input to PATH
//   --fake-out-last-arg    copy the input to the file named by the last argument
//   --fake-args=PATH       write the arguments it got, one per line, to PATH
//   --fake-stderr=BYTES    print that much chatter on standard error while reading
//   --fake-message=TEXT    print TEXT (underscores become blanks) on standard error at the end
//   --fake-read=BYTES      stop reading after that many bytes
//   --fake-delay=MS        wait that long after each read of 4096 bytes (a slow encoder)
//   --fake-exit=CODE       exit with CODE (default 0)
//   --fake-crash           end by a segmentation fault after reading
//   --fake-hang            never read; sleep until killed
//   --fake-hang-after      read everything, then sleep until killed
//   --fake-ignore-term     ignore SIGTERM
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> options = args;
    if (const char* env = std::getenv("FAKE_ENCODER")) {
        std::string all = env;
        size_t pos = 0;
        while (pos < all.size()) {
            const size_t end = all.find(' ', pos);
            const std::string word = all.substr(pos, end == std::string::npos ? end : end - pos);
            if (!word.empty())
                options.push_back(word);
            if (end == std::string::npos)
                break;
            pos = end + 1;
        }
    }

    std::string outPath, argsPath, message;
    long long stderrBytes = 0, readLimit = -1, delayMs = 0;
    int exitCode = 0;
    bool crash = false, hang = false, hangAfter = false;
    for (const std::string& o : options) {
        auto value = [&](const char* prefix) -> const char* {
            const size_t n = std::strlen(prefix);
            return o.compare(0, n, prefix) == 0 ? o.c_str() + n : nullptr;
        };
        if (const char* v = value("--fake-out="))
            outPath = v;
        else if (o == "--fake-out-last-arg" && !args.empty())
            outPath = args.back();
        else if (const char* v = value("--fake-args="))
            argsPath = v;
        else if (const char* v = value("--fake-stderr="))
            stderrBytes = std::atoll(v);
        else if (const char* v = value("--fake-message=")) {
            message = v;
            for (char& c : message)
                if (c == '_')
                    c = ' ';
        } else if (const char* v = value("--fake-read="))
            readLimit = std::atoll(v);
        else if (const char* v = value("--fake-delay="))
            delayMs = std::atoll(v);
        else if (const char* v = value("--fake-exit="))
            exitCode = std::atoi(v);
        else if (o == "--fake-crash")
            crash = true;
        else if (o == "--fake-hang")
            hang = true;
        else if (o == "--fake-hang-after")
            hangAfter = true;
        else if (o == "--fake-ignore-term")
            std::signal(SIGTERM, SIG_IGN);
    }

    if (!argsPath.empty()) {
        if (FILE* f = std::fopen(argsPath.c_str(), "w")) {
            for (const std::string& a : args)
                std::fprintf(f, "%s\n", a.c_str());
            std::fclose(f);
        }
    }
    if (hang)
        for (;;)
            pause();

    FILE* out = outPath.empty() ? nullptr : std::fopen(outPath.c_str(), "wb");
    std::vector<char> buf(4096);
    long long total = 0;
    const std::string chatter(200, 'x');
    for (;;) {
        size_t want = buf.size();
        if (readLimit >= 0)
            want = size_t(std::min<long long>(want, readLimit - total));
        if (want == 0)
            break;
        const ssize_t n = read(0, buf.data(), want);
        if (n <= 0)
            break;
        total += n;
        if (delayMs > 0)
            usleep(useconds_t(delayMs * 1000));
        if (out)
            std::fwrite(buf.data(), 1, size_t(n), out);
        // Chatter like a progress display, spread over the input.
        while (stderrBytes > 0) {
            const size_t k = size_t(std::min<long long>(stderrBytes, (long long)chatter.size()));
            (void)!write(2, chatter.data(), k);
            stderrBytes -= (long long)k;
            if (stderrBytes % 65536 < 200)
                break;
        }
    }
    if (out)
        std::fclose(out);
    if (!message.empty())
        std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
    if (hangAfter)
        for (;;)
            pause();
    if (crash) {
        std::signal(SIGSEGV, SIG_DFL);
        std::raise(SIGSEGV);
    }
    return exitCode;
}
