/* A plugin for qemu-user (-plugin) that counts the guest instructions a run
 * executes: the panel's counterpart of callgrind's count, whatever the host
 * is doing. It writes the count to $GUEST_INSTRUCTIONS_OUT at exit. Given
 * $GUEST_INSTRUCTIONS_MARKERS, guest addresses in hex separated by commas,
 * it writes on a second line how many had executed when each was first
 * reached after the one before it: the phases of a sequential program (the
 * line ends at the first marker never reached). The few declarations it
 * needs from QEMU's plugin API (version 1, as in QEMU 7.2) are written out
 * here, since Debian ships no header for it. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
struct qemu_info_t;
typedef void (*translated_cb)(qemu_plugin_id_t id, struct qemu_plugin_tb *tb);
typedef void (*executed_cb)(unsigned int vcpu, void *data);
typedef void (*exit_cb)(qemu_plugin_id_t id, void *data);
void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, translated_cb cb);
void qemu_plugin_register_vcpu_tb_exec_cb(struct qemu_plugin_tb *tb, executed_cb cb, int flags,
                                          void *data);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, exit_cb cb, void *data);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb *tb);
uint64_t qemu_plugin_tb_vaddr(const struct qemu_plugin_tb *tb);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

enum { kMaxMarkers = 64 };
static uint64_t executed;
static uint64_t markers[kMaxMarkers], reached[kMaxMarkers];
static int marker_count, next_marker;

static void on_executed(unsigned int vcpu, void *instructions) {
    (void)vcpu;
    executed += (uintptr_t)instructions;
}

static void on_marker(unsigned int vcpu, void *address) {
    (void)vcpu;
    if (next_marker < marker_count && markers[next_marker] == (uintptr_t)address) {
        reached[next_marker++] = executed;
    }
}

static void on_translated(qemu_plugin_id_t id, struct qemu_plugin_tb *tb) {
    (void)id;
    uint64_t address = qemu_plugin_tb_vaddr(tb);
    for (int i = 0; i < marker_count; ++i) {
        if (markers[i] == address) {
            qemu_plugin_register_vcpu_tb_exec_cb(tb, on_marker, 0, (void *)(uintptr_t)address);
            break;
        }
    }
    qemu_plugin_register_vcpu_tb_exec_cb(tb, on_executed, 0,
                                         (void *)(uintptr_t)qemu_plugin_tb_n_insns(tb));
}

static void on_exit_of_guest(qemu_plugin_id_t id, void *data) {
    (void)id;
    (void)data;
    const char *path = getenv("GUEST_INSTRUCTIONS_OUT");
    FILE *out = fopen(path != NULL ? path : "/dev/stderr", "w");
    if (out != NULL) {
        fprintf(out, "%llu\n", (unsigned long long)executed);
        for (int i = 0; i < next_marker; ++i) {
            fprintf(out, "%llu ", (unsigned long long)reached[i]);
        }
        fputs("\n", out);
        fclose(out);
    }
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id,
                                                               const struct qemu_info_t *info,
                                                               int argc, char **argv) {
    (void)info;
    (void)argc;
    (void)argv;
    const char *list = getenv("GUEST_INSTRUCTIONS_MARKERS");
    for (char *end; list != NULL && *list != '\0' && marker_count < kMaxMarkers; list = end) {
        markers[marker_count++] = strtoull(list, &end, 16);
        end += *end == ',';
    }
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translated);
    qemu_plugin_register_atexit_cb(id, on_exit_of_guest, NULL);
    return 0;
}
