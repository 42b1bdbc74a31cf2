/*
 * Under Wine, the Windows test programs send datagrams through the Linux
 * network stack of the namespace they run in. They refuse to run unless
 * that namespace has only the loopback interface (scripts/netns-run makes
 * one), so that no broadcast can leave the machine.
 */
#ifndef KXCONF_NAMESPACE_GUARD_H
#define KXCONF_NAMESPACE_GUARD_H

#include <stdio.h>
#include <string.h>
#include <windows.h>

/* 1 under Wine when some interface other than lo exists (or cannot be
   read), 0 otherwise; on Windows itself the operator chose the network. */
static int outside_private_namespace(void) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == NULL || GetProcAddress(ntdll, "wine_get_version") == NULL) return 0;
    FILE *interfaces = fopen("Z:\\proc\\net\\dev", "r");
    if (interfaces == NULL) return 1;
    char line[512];
    int number = 0, others = 0, loopback = 0;
    while (fgets(line, sizeof line, interfaces) != NULL) {
        if (++number <= 2) continue; /* two header lines */
        const char *name = line;
        while (*name == ' ') ++name;
        if (strncmp(name, "lo:", 3) == 0)
            ++loopback;
        else
            ++others;
    }
    fclose(interfaces);
    return others != 0 || loopback != 1;
}

#endif
