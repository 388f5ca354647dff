// SPDX-License-Identifier: MIT
// The two coin-count methods of the coin-change demonstration.
#ifndef UNTITLED3_H
#define UNTITLED3_H

void voraz(int cantidad);
int progDinamica(int cantidad);

#endif
