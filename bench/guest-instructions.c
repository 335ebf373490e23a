/* A plugin for qemu-user (-plugin) that counts the guest instructions a run
 * executes, and those it translated (each translation block once): the
 * panel's counterpart of callgrind's count, whatever the host is doing. It
 * writes "EXECUTED TRANSLATED" to $GUEST_INSTRUCTIONS_OUT at exit. The few
 * declarations it needs from QEMU's plugin API (version 1, as in QEMU 7.2)
 * are written out here, since Debian ships no header for it. */
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

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

static uint64_t executed, translated;

static void on_executed(unsigned int vcpu, void *instructions) {
    (void)vcpu;
    executed += (uintptr_t)instructions;
}

static void on_translated(qemu_plugin_id_t id, struct qemu_plugin_tb *tb) {
    (void)id;
    size_t instructions = qemu_plugin_tb_n_insns(tb);
    translated += instructions;
    qemu_plugin_register_vcpu_tb_exec_cb(tb, on_executed, 0, (void *)(uintptr_t)instructions);
}

static void on_exit_of_guest(qemu_plugin_id_t id, void *data) {
    (void)id;
    (void)data;
    const char *path = getenv("GUEST_INSTRUCTIONS_OUT");
    FILE *out = fopen(path != NULL ? path : "/dev/stderr", "w");
    if (out != NULL) {
        fprintf(out, "%llu %llu\n", (unsigned long long)executed, (unsigned long long)translated);
        fclose(out);
    }
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id,
                                                               const struct qemu_info_t *info,
                                                               int argc, char **argv) {
    (void)info;
    (void)argc;
    (void)argv;
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translated);
    qemu_plugin_register_atexit_cb(id, on_exit_of_guest, NULL);
    return 0;
}
