/*
 * The recorder voice codec of the media engine (VOICE_ functions).
 */
#ifndef RKVOICE_H
#define RKVOICE_H

#include <stdint.h>

#endif /* RKVOICE_H */
