#include "impresora-virtual/ModeloImpresora.h"

#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

qsizetype Impresos(const ModeloImpresora::Salida& salida) {
    qsizetype n = 0;
    for (const auto& p : salida.impreso) {
        n += p.bytes.size();
    }
    return n;
}

} // namespace

// A power cut noticed late (the program that holds the model was busy) still
// leaves on paper what the mechanism printed before the power went: a
// starved model must not lose bytes a real printer had printed, nor print
// any after the cut.
TEST(ModeloImpresora, WhatWasPrintedBeforeALateNoticedCutStaysOnPaper) {
    ModeloImpresora modelo({4096, 1000, true, true, false, 0});
    ModeloImpresora::Salida salida;
    const auto inicio = ModeloImpresora::Reloj::now();
    modelo.Tomar(1, QByteArray(2000, 'x'), salida);
    std::this_thread::sleep_until(inicio + 800ms);
    modelo.Apagar(inicio + 500ms);
    EXPECT_FALSE(modelo.Encendida());
    EXPECT_EQ(modelo.EnBufer(), 0);

    modelo.Imprimir(salida);
    const qsizetype antes = Impresos(salida);
    EXPECT_GE(antes, 480) << "the half second before the cut, at 1000 bytes a second";
    EXPECT_LE(antes, 500) << "nothing after the cut";
    ASSERT_FALSE(salida.impreso.isEmpty());
    EXPECT_EQ(salida.impreso.front().conexion, 1);

    ModeloImpresora::Salida despues;
    modelo.Encender();
    modelo.Imprimir(despues);
    EXPECT_EQ(Impresos(despues), 0) << "the buffer was lost with the power";
}
