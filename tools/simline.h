// Placeholder until its issue is built.
#pragma once
