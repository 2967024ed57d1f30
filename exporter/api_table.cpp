// The plug-in's entry point and the constant table through which the host drives it.
#include "exporter/exporter_internal.h"
#include "exporter/vem_exporter.h"

extern "C" {

const vem_exporter_api_t nf_exporter_api = {
    1,
    "sentrel",
    "netflow protocol exporter",
    vem_nf_exporter_create,
    nullptr,
    vem_nf_exporter_process_data_page,
    nullptr,
    _vem_nf_exporter_destroy,
    vem_nf_exporter_get_options,
    nullptr,
    nullptr,
    {"netflow-collector-addr", "netflow-collector-port", "netflow-max-packet-size"},
};

VEM_API const vem_exporter_api_t *vem_exporter_get_api(void) {
    return &nf_exporter_api;
}

} // extern "C"
