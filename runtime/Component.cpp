#include "runtime/Component.h"

#include "runtime/Exceptions.h"

void TPersistent::Assign(const TPersistent& Source)
{
    AssignError(Source);
}

void TPersistent::AssignError(const TPersistent& Source) const
{
    throw EConvertError("Cannot assign a " + Source.ClassName() + " to a " + ClassName());
}
