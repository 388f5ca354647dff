// SPDX-License-Identifier: MIT
// Pays the amount 8 with the coins 1, 4 and 6 twice: greedily (3 coins) and
// by dynamic programming (2 coins, the optimum), and reports both in Spanish.
// The report is Latin-1: "\xF3" is the single byte of the accented o.
#include <cstdio>

#include "Untitled3.h"

// Greedy: as many of the largest coin as fit, then the next smaller one.
void voraz(int cantidad)
{
    const int monedas[] = {6, 4, 1};
    int cuenta = 0;

    while (cantidad > 0) {
        for (const int moneda : monedas) {
            if (moneda > cantidad)
                continue;
            cuenta += cantidad / moneda;
            cantidad %= moneda;
        }
    }
    std::printf("Numero de monedas (algoritmo voraz) = %d\n", cuenta);
}

// Fills and prints the table of fewest coins, a row per coin allowed and a
// column per amount, and returns the fewest for the amount. The table holds
// the amounts 0 to 8: any other amount prints nothing and returns -1.
int progDinamica(int cantidad)
{
    constexpr int tope = 8;
    constexpr int inalcanzable = 99999999; // no row above the first
    const int monedas[] = {1, 4, 6};
    int tabla[3][tope + 1] = {}; // column 0: the amount 0 needs no coin

    if (cantidad < 0 || cantidad > tope)
        return -1;

    std::puts("\n\nTabla de programaci\xF3n dinamica");
    for (int fila = 0; fila < 3; ++fila) {
        const int moneda = monedas[fila];
        for (int monto = 1; monto <= cantidad; ++monto) {
            int celda = fila > 0 ? tabla[fila - 1][monto] : inalcanzable;
            if (moneda <= monto && tabla[fila][monto - moneda] + 1 < celda)
                celda = tabla[fila][monto - moneda] + 1;
            tabla[fila][monto] = celda;
            std::printf(" %d\t", celda);
        }
        std::putchar('\n');
    }
    std::printf("\nNumero de monedas (programaci\xF3n dinamica)= %d\n", tabla[2][cantidad]);
    return tabla[2][cantidad];
}

int main()
{
    const int cantidad = 8;

    voraz(cantidad);
    progDinamica(cantidad);

    // A report that did not reach standard output in full is a failure.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::perror("Untitled3: error de escritura");
        return 1;
    }
    return 0;
}
