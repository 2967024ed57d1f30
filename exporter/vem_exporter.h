/* Entry point of the NetFlow exporter plug-in: the host fetches the API table with
 * vem_exporter_get_api() and drives exporter instances through it. */
#ifndef VEM_EXPORTER_H
#define VEM_EXPORTER_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "events/vem_data_page.h"
#include "events/vem_opaque_events.h"
#include "support/vem_dict.h"
#include "support/vem_export.h"

VEM_BEGIN_DECLS

#define VEM_EXPORTER_OPTION_SLOTS 32

typedef struct vem_exporter_api {
    int32_t api_version;
    const char *name;
    const char *description;
    /* A new exporter, or NULL when disabled by configuration or when creation failed. */
    void *(*create)(vem_dict_t options);
    void (*reserved_1)(void);
    bool (*process_data_page)(void *exporter, const vem_data_page_t *page,
                              const vem_type_def_lookup_t *lookup);
    void (*reserved_2)(void);
    void (*destroy)(void *exporter);
    /* The exporter's own options copy, valid until destroy. */
    vem_dict_t (*get_options)(void *exporter);
    void (*reserved_3)(void);
    void (*reserved_4)(void);
    const char *option_names[VEM_EXPORTER_OPTION_SLOTS];
} vem_exporter_api_t;

VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, api_version) == 0, "api_version");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, name) == 8, "name");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, description) == 16, "description");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, create) == 24, "create");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, reserved_1) == 32, "reserved_1");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, process_data_page) == 40, "process_data_page");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, reserved_2) == 48, "reserved_2");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, destroy) == 56, "destroy");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, get_options) == 64, "get_options");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, reserved_3) == 72, "reserved_3");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, reserved_4) == 80, "reserved_4");
VEM_STATIC_ASSERT(offsetof(vem_exporter_api_t, option_names) == 88, "option_names");
VEM_STATIC_ASSERT(sizeof(vem_exporter_api_t) == 88 + 32 * 8, "vem_exporter_api_t size");

VEM_API extern const vem_exporter_api_t nf_exporter_api;

/* Returns &nf_exporter_api; no side effects. */
VEM_API const vem_exporter_api_t *vem_exporter_get_api(void);
/* The table's destroy slot. */
VEM_API void _vem_nf_exporter_destroy(void *exporter);

VEM_END_DECLS

#endif
