/* The embedded log engine's library interface: the documented C prototypes of the
 * engine's library mode, and nothing more. */
#ifndef PV_ENGINE_H
#define PV_ENGINE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct flb_lib_ctx flb_ctx_t;
struct flb_lib_out_cb; /* declared only; callers pass NULL */

flb_ctx_t *flb_create(void);                                   /* NULL on error */
int flb_service_set(flb_ctx_t *ctx, ...);                      /* key, value, ..., NULL: 0, or negative */
int flb_input(flb_ctx_t *ctx, const char *input, void *data);  /* handle >= 0, or -1 */
int flb_input_set(flb_ctx_t *ctx, int ffd, ...);               /* 0, or negative */
int flb_output(flb_ctx_t *ctx, const char *output, struct flb_lib_out_cb *cb); /* handle >= 0, or -1 */
int flb_output_set(flb_ctx_t *ctx, int ffd, ...);              /* 0, or negative */
int flb_start(flb_ctx_t *ctx);                                 /* 0, or -1 */
int flb_stop(flb_ctx_t *ctx);                                  /* 0 when stopped cleanly */
void flb_destroy(flb_ctx_t *ctx);

#ifdef __cplusplus
}
#endif

#endif
