/* Catalogue of NetFlow v9 field types, indexed by type number 0 to 104. */
#ifndef VEM_NETFLOW_FIELDS_H
#define VEM_NETFLOW_FIELDS_H

#include <stddef.h>
#include <stdint.h>

#include "support/vem_export.h"

VEM_BEGIN_DECLS

#define VEM_NET_FLOW_FIELDS_COUNT 105

typedef struct vem_net_flow_field_info {
    uint16_t type;           /* equal to the row's index */
    const char *name;        /* NULL in an empty row */
    uint16_t length;         /* bytes; the default length for variable fields */
    const char *description; /* one sentence; NULL in an empty row */
} vem_net_flow_field_info_t;

VEM_STATIC_ASSERT(offsetof(vem_net_flow_field_info_t, type) == 0, "type");
VEM_STATIC_ASSERT(offsetof(vem_net_flow_field_info_t, name) == 8, "name");
VEM_STATIC_ASSERT(offsetof(vem_net_flow_field_info_t, length) == 16, "length");
VEM_STATIC_ASSERT(offsetof(vem_net_flow_field_info_t, description) == 24, "description");
VEM_STATIC_ASSERT(sizeof(vem_net_flow_field_info_t) == 32, "row size");

VEM_API extern const vem_net_flow_field_info_t net_flow_fields_info[VEM_NET_FLOW_FIELDS_COUNT];

/* The row of type 1..104, or NULL for other numbers and the empty rows 97 and 101. */
VEM_API const vem_net_flow_field_info_t *vem_net_flow_field_info_by_type(int type);
/* The row whose name equals name exactly, or NULL (also for a NULL name). */
VEM_API const vem_net_flow_field_info_t *vem_net_flow_field_info_by_name(const char *name);

VEM_END_DECLS

#endif
