#ifndef QUORLIN_RESOURCE_H
#define QUORLIN_RESOURCE_H

#define IDI_QUORLIN 101 /* application icon (32x32 and 16x16, 16 colours) */
#define IDR_BANNER  102 /* RCDATA: banner.jpg bytes */

#endif /* QUORLIN_RESOURCE_H */
