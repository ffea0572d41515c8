/* spawnwrap: runs a program with LD_LIBRARY_PATH set to a given value, or
 * removed, reports on standard error how the program ended, and then keeps its
 * own process (and so the terminal window it runs in) alive until killed.
 *
 *   spawnwrap LIBRARY_PATH|(null) PROGRAM [ARGUMENT...]
 *   spawnwrap --version
 *
 * Stand-alone: it links only the C library and none of the toolkit. */
#define _POSIX_C_SOURCE 200809L

#include <assert.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "source_revision.h"

/* Identification strings carried by every program of the toolkit. This
 * program links none of the library, so it holds its own copies. */
const char* version_id_path = "$Id: unknown path $";
const char* version_id_version = "$Id: unknown version $";
const char* version_id_product = "$Id: loomview 2012.1.1 $";

const char* version_bring_in_version_info(void);

const char* version_bring_in_version_info(void) { return version_id_version; }

/* Prints "spawnwrap", the release (the word after the product's name in the
 * product id) and, when the build knows it, " (revision <commit>)", as the
 * library's programs do (this program cannot call the library). */
static int print_version(void) {
  const char* word = strchr(version_id_product, ' ');
  size_t length;
  int written;
  word = word != NULL ? strchr(word + 1, ' ') : NULL;
  word = word != NULL ? word + 1 : "unknown";
  length = strcspn(word, " ");
  if (VK_SOURCE_REVISION[0] != '\0') {
    written = printf("spawnwrap %.*s (revision %s)\n", (int)length, word, VK_SOURCE_REVISION);
  } else {
    written = printf("spawnwrap %.*s\n", (int)length, word);
  }
  if (written < 0 || fflush(stdout) != 0) {
    fprintf(stderr, "spawnwrap: failed to write the version, %s\n", strerror(errno));
    return 1;
  }
  return 0;
}

/* Waits for the child and prints one line saying how it ended. */
static void report_child(pid_t child, const char* program) {
  int status = 0;
  pid_t ended;
  /* No signal handler is installed, so an interrupted wait is not expected;
   * should one happen anyway, it is no failure of the wait. */
  do {
    ended = waitpid(child, &status, 0);
  } while (ended < 0 && errno == EINTR);

  if (ended < 0) {
    fprintf(stderr, "spawnwrap: failed to wait for child, '%s'\n", strerror(errno));
  } else if (WIFEXITED(status)) {
    fprintf(stderr, "%s exited with status %i.\n", program, WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    fprintf(stderr, "%s caught an unhandled signal: %i.\n", program, WTERMSIG(status));
  } else {
    fprintf(stderr, "spawnwrap: unhandled status from wait.\n");
  }
}

int main(int argc, char** argv) {
  struct sigaction ignore_sigint;
  struct sigaction saved_sigint;
  pid_t child;
  int ret;

  /* With one argument the launcher has nothing to run, so "--version" there
   * can take no program's place. */
  if (argc == 2 && strcmp(argv[1], "--version") == 0) return print_version();
  if (argc < 3) {
    fprintf(stderr, "spawnwrap: too few arguments\n");
    return 1;
  }

  /* Only the exact text "(null)" removes the variable; anything else, even
   * the empty text, becomes its value. */
  if (strcmp(argv[1], "(null)") == 0) {
    if (unsetenv("LD_LIBRARY_PATH") != 0) {
      fprintf(stderr, "spawnwrap: failed to unset LD_LIBRARY_PATH\n");
      return 1;
    }
  } else if (setenv("LD_LIBRARY_PATH", argv[1], 1) != 0) {
    fprintf(stderr, "spawnwrap: failed to set LD_LIBRARY_PATH\n");
    return 1;
  }

  /* An interrupt from the terminal while the child runs is meant for the
   * child; the launcher stays to report how the child ended. */
  memset(&ignore_sigint, 0, sizeof(ignore_sigint));
  ignore_sigint.sa_handler = SIG_IGN;
  sigemptyset(&ignore_sigint.sa_mask);
  ignore_sigint.sa_flags = 0;
  ret = sigaction(SIGINT, &ignore_sigint, &saved_sigint);
  assert(ret == 0);

  child = fork();
  if (child < 0) {
    fprintf(stderr, "spawnwrap: failed to fork, %s\n", strerror(errno));
  } else if (child == 0) {
    /* An ignored signal stays ignored across exec: give the program the
     * disposition the launcher started with. */
    ret = sigaction(SIGINT, &saved_sigint, NULL);
    assert(ret == 0);
    execvp(argv[2], argv + 2);
    /* The child carries on below: it says goodbye and sleeps, and the
     * launcher keeps waiting for it. */
    fprintf(stderr, "spawnwrap: failed to execute '%s', %s\n", argv[2], strerror(errno));
  } else {
    report_child(child, argv[2]);
  }

  ret = sigaction(SIGINT, &saved_sigint, NULL);
  assert(ret == 0);
  (void)ret;
  fprintf(stderr, "You may now close the xterm.\n");
  for (;;) {
    sleep(100);
  }
}
