// The ECU's register map: which address holds what.
#pragma once

enum EcuRegister : int {
    kRegRevsHigh = 1,  // revs period, 16-bit, high byte first
    kRegRevsLow = 2,
    kRegInjectorsHigh = 3,  // injector opening time in 4 us steps, 16-bit
    kRegInjectorsLow = 4,
    kRegAdvance = 5,
    kRegManifoldPressure = 6,
    kRegAirTemperature = 7,
    kRegWaterTemperature = 8,
    kRegThrottle = 9,
    kRegBattery = 10,
    kRegInjectionAngle = 12,
    kRegVaeHigh = 13,
    kRegVaeLow = 14,
    kRegUniram1 = 15,  // one fault-present bit per sensor
    kRegUniram2 = 16,  // camshaft / crankshaft fault details
    kRegUniram3 = 17,  // short-or-open details, lean-or-rich
    kRegLambdaIntegratorHigh = 18,
    kRegLambdaIntegratorLow = 19,
    kRegLambdaState = 20,
    kRegUniramS = 21,
};
